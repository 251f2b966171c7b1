#pragma once
// The host globals of the demo taxpayer, as a logged-in client has them.
#include "data_model/demo_constants.h"
#include "host/session.h"

namespace fp::test {

inline void setDemoSession(Session& session) {
    session.gs_userid = QString::fromUtf8(demo::kUserId);
    session.gs_username = QString::fromUtf8(demo::kUserName);
    session.gs_sysuserid = QString::fromUtf8(demo::kSxh);
    session.gs_sysusername = QString::fromUtf8(demo::kTaxpayerName);
    session.gs_nsrsbh = QString::fromUtf8(demo::kNsrsbh);
    session.gs_nsrlxdh = QString::fromUtf8(demo::kNsrlxdh);
    session.gs_ssswjgdm = QString::fromUtf8(demo::kSwjgdm);
}

} // namespace fp::test
