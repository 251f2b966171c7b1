#pragma once
// The reprint and void windows driven from the command line: `fpdesk print`
// and `fpdesk void` open the same toolkit-neutral window a clerk uses, choose
// the code, type the number, view it and run the window's command.
//
// Running the command confirms the command itself (the print, the void);
// every other question (download, a status other than "1") is answered by the
// console dialogs (--yes, --no, the terminal, or no). The user's right for the
// window and the issuer are checked first.
//
// Exit status: 0 done; 1 refused or failed (the reason is on standard error);
// 3 (print only) the copies were printed to the file but the print could not
// be recorded: the file stays, as paper would.
#include "host/dialogs.h"
#include "host/host_services.h"

#include <QString>
#include <QStringList>

namespace fp::cli {

// Dialogs of a window command: the command's own confirmation is answered yes,
// everything else goes to `console`; the print preview prints to a PDF file.
class CommandDialogs : public Dialogs {
public:
    explicit CommandDialogs(Dialogs& console) : console_(console) {}

    void message(const QString& text) override { console_.message(text); }
    int question(const QString& text) override;
    QString treeSelect(const TreeSelectRequest& request) override { return console_.treeSelect(request); }
    // Prints the form, the whole of it, `copies` pages to the file; reports the
    // printer as "PDF" with the file's name as its information.
    s_printreturn printPreview(const s_preview_parameter& parameter) override;

    // Questions beginning with one of these are the command's own confirmation.
    void setConfirmations(const QStringList& prefixes) { confirmations_ = prefixes; }
    void setPdf(const QString& file, int copies) {
        pdf_ = file;
        copies_ = copies;
    }
    bool pdfWritten() const { return pdfWritten_; }

private:
    Dialogs& console_;
    QStringList confirmations_;
    QString pdf_;
    int copies_ = 1;
    bool pdfWritten_ = false;
};

struct WindowCommand {
    QString code;
    QString number;
    QString issuer; // --issuer; empty: the session's (the profile's kprmc)
};

// fpdesk print CODE NUMBER --pdf FILE [--copies N]
int printInvoice(HostServices& host, CommandDialogs& dialogs, const WindowCommand& command, const QString& pdf,
                 int copies);
// fpdesk void CODE NUMBER [--blank]
int voidInvoice(HostServices& host, CommandDialogs& dialogs, const WindowCommand& command, bool blank);

} // namespace fp::cli
