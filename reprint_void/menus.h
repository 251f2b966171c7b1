#pragma once
// The command menus of the three windows; their items also describe the
// toolbar buttons.
#include "host/menu.h"

namespace fp {

Menu m_fp_invoicing();
Menu m_fp_invoice_print();
Menu m_fp_invoice_void();
Menu m_fp_invoice_query();

// Shortcut codes: key code, plus 256 with Ctrl.
namespace shortcut {
inline constexpr int CtrlO = 335, CtrlN = 334, CtrlD = 324, CtrlP = 336, CtrlF = 326, CtrlK = 331, CtrlM = 333,
                     CtrlE = 325, CtrlH = 328, CtrlS = 339, F5 = 116;
}

} // namespace fp
