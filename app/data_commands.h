#pragma once
// Commands of the fpdesk command line that keep the local data in step with
// the tax service without opening a window: store a stock or code text from a
// file, fetch the stock, the code tables or one invoice from the service. Each
// returns the process exit status: 0 done, 1 refused or failed (the reason has
// been shown through the dialogs), 2 the input file could not be read.
#include "host/dialogs.h"
#include "host/host_services.h"

#include <QString>
#include <cstdio>

namespace fp::cli {

// Dialogs for a terminal: messages go to the error stream, one per line;
// questions are answered by a preset (--yes / --no), else asked on the terminal
// (y/n) when the input is one, else answered no; a question answered without
// asking is written to the error stream with the answer taken. The issuer
// choice is never made (null).
class ConsoleDialogs : public Dialogs {
public:
    enum class Preset { Ask, Yes, No };

    explicit ConsoleDialogs(Preset preset = Preset::Ask);
    // `interactive`: whether `in` is a terminal to ask on.
    ConsoleDialogs(Preset preset, std::FILE* in, std::FILE* err, bool interactive);

    void setPreset(Preset preset) { preset_ = preset; }
    Preset preset() const { return preset_; }

    void message(const QString& text) override;
    int question(const QString& text) override;
    QString treeSelect(const TreeSelectRequest& request) override;

private:
    Preset preset_;
    std::FILE* in_;
    std::FILE* err_;
    bool interactive_;
};

// Whether `f` is a terminal (questions are asked and progress is shown only there).
bool isTerminal(std::FILE* f);

// Reads `file` as UTF-8 text (one trailing newline removed) and stores it with
// gf_save_fplgqk / gf_save_fpzldm.
int stockImport(HostServices& host, const QString& file);
int codesImport(HostServices& host, const QString& file);

// gf_get_fp_from_remote for one invoice code and number.
int fetchInvoice(HostServices& host, const QString& code, const QString& number);

// Settles the unconfirmed uploads of the session's user against the tax
// service (gf_reconcile_pending_uploads): 0 when none is left, 1 when some
// are kept for later.
int reconcilePendingUploads(HostServices& host);

// Asks the tax service for the taxpayer's purchased stock (procedure 90002) or
// the code tables (90003) and stores the answer.
int fetchStock(HostServices& host);
int fetchCodes(HostServices& host);

} // namespace fp::cli
