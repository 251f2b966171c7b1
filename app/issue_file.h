#pragma once
// fpdesk issue FILE: issues the invoices of a JSON file, written by the
// taxpayer's own accounting system, through the issuing window's commands,
// headless, so that every check, message and transaction is the window's.
//
// FILE is UTF-8 JSON: one invoice object or an array of them, kind "50" only.
// Keys are the window's column names: fpdm (required), fphm (optional: the
// first number offered for the code), fkfmc, fkfzjlx, fkfzjhm, bz, items
// (objects with xmmc, mj, dj and optionally je, which must equal mj x dj), and
// ch for a red-letter invoice: {"fpdm", "fphm"} of an invoice held locally or
// on the server (copied: no payer or items beside it), or {"sgfp": true,
// "fpdm", "fphm"} of one issued outside the system, with its own payer and
// items. Amounts are JSON strings with at most two decimals.
#include "host/dialogs.h"
#include "host/host_services.h"

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <optional>
#include <vector>

namespace fp::cli {

struct IssueLine {
    QString xmmc, mj, dj;
    std::optional<QString> je;
};

struct IssueInvoice {
    QString fpdm;
    QString fphm; // empty: the first number offered
    std::optional<QString> fkfmc, fkfzjlx, fkfzjhm, bz;
    std::vector<IssueLine> items;
    bool redLetter = false;
    bool outsideSystem = false; // ch.sgfp
    QString chdm, chhm;
};

// Parses the file's text. False with a message that names the invoice's place
// and the key when the text is not such a file; nothing is issued then.
bool parseIssueFile(const QByteArray& json, std::vector<IssueInvoice>& out, QString* error);

// The dialogs of a headless issue: every message and question names the
// invoice's place in the file; the save's own confirmation is answered yes
// (running the command confirms each save), every other question goes on to
// `inner` (--yes / --no, or the terminal).
class IssueDialogs : public Dialogs {
public:
    explicit IssueDialogs(Dialogs& inner) : inner_(inner) {}
    void setPlace(const QString& place) { place_ = place; }
    // While set, the question whether to give up the invoice on screen is
    // answered yes (the command moves on from a refused number by itself).
    void setGiveUpConfirmed(bool yes) { giveUpConfirmed_ = yes; }
    // The last message shown, without its place.
    QString lastMessage() const { return lastMessage_; }
    void message(const QString& text) override;
    int question(const QString& text) override;
    QString treeSelect(const TreeSelectRequest& request) override { return inner_.treeSelect(request); }
    s_printreturn printPreview(const s_preview_parameter& p) override { return inner_.printPreview(p); }

private:
    Dialogs& inner_;
    QString place_;
    QString lastMessage_;
    bool giveUpConfirmed_ = false;
};

// Issues the invoices in order through one issuing window; writes "CODE
// NUMBER" for each issued invoice to `out`; stops at the first refusal (the
// earlier invoices stay issued). An invoice without fphm whose offered number
// another issuer took meanwhile (refused at start or save, nothing stored)
// moves on to the next free number of its code. `issuer` (when not empty) must be one of the
// taxpayer's issuers. 0 when every invoice was issued, 1 otherwise.
int issueInvoices(HostServices& host, IssueDialogs& dialogs, const std::vector<IssueInvoice>& invoices,
                  const QString& issuer, std::FILE* out);

// Reads and parses FILE, then issueInvoices. 2 when the file cannot be read or
// is malformed (nothing sent), else as issueInvoices.
int issueFile(HostServices& host, IssueDialogs& dialogs, const QString& file, const QString& issuer, std::FILE* out);

} // namespace fp::cli
