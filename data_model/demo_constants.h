#pragma once
// The demo taxpayer shared by the client's demo database and the simulated
// tax service's default seed, so that the two agree out of the box.
namespace fp::demo {

inline constexpr const char* kSxh = "3702000012345";    // owner account (gs_sysuserid)
inline constexpr const char* kPassword = "demo-secret"; // credential at the tax service
inline constexpr const char* kTaxpayerName = "示范商贸有限公司";
inline constexpr const char* kNsrsbh = "91370200MA3C00001X";
inline constexpr const char* kNsrlxdh = "0532-88880000";
inline constexpr const char* kSwjgdm = "13702000000"; // tax office
inline constexpr const char* kSwjgmc = "示范市税务局第一税务分局";
inline constexpr const char* kUserId = "admin";
inline constexpr const char* kUserName = "系统管理员";

// Invoice codes of the demo stock (kind in brackets):
inline constexpr const char* kCode50 = "237020000001";         // "50", open stock 00000001-00000100
inline constexpr const char* kCode50Returned = "237020000002"; // "50", whole purchase returned
inline constexpr const char* kCode20 = "237020000201";         // "20", open stock 00000001-00000050
inline constexpr const char* kCode40 = "237020000401";         // "40", open stock 00000001-00000050

} // namespace fp::demo
