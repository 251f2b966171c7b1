#pragma once
// Statement faults for tests: makes a transaction's next statement that
// contains a fragment fail, as a full disk or a lost connection would.
#include "data_model/transaction.h"

#include <QString>
#include <memory>

namespace fp::test {

class FailNextMatching : public StatementFaults {
public:
    FailNextMatching(QString fragment, QString error, int skip = 0)
        : fragment_(std::move(fragment)), error_(std::move(error)), skip_(skip) {}

    QString failureFor(const QString& sql) override {
        if (fired_ || !sql.contains(fragment_)) return QString();
        if (skip_-- > 0) return QString();
        fired_ = true;
        return error_;
    }

private:
    QString fragment_;
    QString error_;
    int skip_ = 0;
    bool fired_ = false;
};

// The next statement of `t` whose text contains `fragment` fails with `error`;
// the statements after it run again.
inline void failNextMatching(Transaction& t, const QString& fragment,
                             const QString& error = QStringLiteral("injected failure")) {
    t.setStatementFaults(std::make_shared<FailNextMatching>(fragment, error));
}

// The commit after the next `skip` ones fails with `error`, as on a full disk;
// the transaction stays open for the caller's rollback.
inline void failCommit(Transaction& t, int skip, const QString& error = QStringLiteral("disk full")) {
    t.setStatementFaults(std::make_shared<FailNextMatching>(QStringLiteral("COMMIT"), error, skip));
}

} // namespace fp::test
