#pragma once
// The demo taxpayer's data for a new local database: tax offices, staff,
// trading partners, item catalogue, invoice kinds and codes, purchased and
// returned stock and the administrator's rights. The values agree with
// data_model/demo_constants.h, which the simulated tax service seeds from too.
#include <QString>

namespace fp {

class Transaction;

// Writes the demo rows into an empty schema in one transaction and commits.
// On failure everything is rolled back and `error` says which table failed.
[[nodiscard]] bool createDemoData(Transaction& t, QString* error);

namespace demo {
// Purchase serial numbers of the demo stock, one purchase per code.
inline constexpr const char* kLglsh50 = "LG2009000001";
inline constexpr const char* kLglsh50Returned = "LG2009000002";
inline constexpr const char* kLglsh20 = "LG2009000003";
inline constexpr const char* kLglsh40 = "LG2009000004";
// Superior office of the taxpayer's tax office.
inline constexpr const char* kSuperiorSwjgdm = "13700000000";
} // namespace demo

} // namespace fp
