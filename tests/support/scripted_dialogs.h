#pragma once
// Dialogs answered from a script. Every text shown is recorded in order; a
// question or choice without a queued answer, or an answer left unused when the
// test ends, fails the test.
#include "host/dialogs.h"
#include "services/report_table.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace fp::test {

class ScriptedDialogs : public Dialogs {
public:
    ~ScriptedDialogs() override {
        EXPECT_TRUE(answers_.empty()) << "unused question answers: " << answers_.size();
        EXPECT_TRUE(choices_.empty()) << "unused tree-select answers: " << choices_.size();
        EXPECT_TRUE(previewAnswers_.empty()) << "unused print-preview answers: " << previewAnswers_.size();
        EXPECT_TRUE(exportFiles_.empty()) << "unused export file answers: " << exportFiles_.size();
    }

    void message(const QString& text) override {
        log_.append(QStringLiteral("mess:") + text);
        messages_.append(text);
    }
    int question(const QString& text) override {
        log_.append(QStringLiteral("msg2:") + text);
        questions_.append(text);
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.toStdString();
            return 2;
        }
        const int a = answers_.front();
        answers_.pop_front();
        return a;
    }
    QString treeSelect(const TreeSelectRequest& request) override {
        log_.append(QStringLiteral("tree:") + request.paramText());
        treeRequests_.push_back(request);
        if (choices_.empty()) {
            ADD_FAILURE() << "unexpected tree select: " << request.paramText().toStdString();
            return QString();
        }
        const QString c = choices_.front();
        choices_.pop_front();
        return c;
    }

    s_printreturn printPreview(const s_preview_parameter& parameter) override {
        log_.append(QStringLiteral("preview:") + parameter.dw_datawindowname);
        previews_.push_back(parameter);
        if (previewAnswers_.empty()) {
            ADD_FAILURE() << "unexpected print preview of " << parameter.dw_datawindowname.toStdString();
            return {};
        }
        s_printreturn r = previewAnswers_.front();
        previewAnswers_.pop_front();
        if (onPreview) onPreview(parameter);
        return r;
    }

    void previewReport(const ReportTable& report) override {
        log_.append(QStringLiteral("report:") + report.title);
        reports_.push_back(report);
    }
    const std::vector<ReportTable>& reports() const { return reports_; }

    QString chooseExportFile(const QString& suggestedName, QString* format) override {
        log_.append(QStringLiteral("export:") + suggestedName);
        if (exportFiles_.empty()) {
            ADD_FAILURE() << "unexpected export file choice: " << suggestedName.toStdString();
            return QString();
        }
        const auto [file, chosen] = exportFiles_.front();
        exportFiles_.pop_front();
        if (format) *format = chosen;
        return file;
    }
    // Script of the export file choice: the file and format (an empty file cancels).
    void exportTo(const QString& file, const QString& format) { exportFiles_.push_back({file, format}); }

    bool progress(const QString& text, int done, int total) override {
        progressSteps_.append(QStringLiteral("%1/%2").arg(done).arg(total));
        (void)text;
        return !(cancelAt >= 0 && done >= cancelAt);
    }
    // The progress is cancelled once `done` reaches this (-1: never).
    int cancelAt = -1;
    const QStringList& progressSteps() const { return progressSteps_; }

    // Script of the print preview: `copies` printed on `printer` ("0": none to
    // report), or closed without printing.
    void printCopies(long copies, const QString& printer = QStringLiteral("0"), const QString& info = QString()) {
        s_printreturn r;
        r.sl_printcnt = copies;
        r.ss_printer = printer;
        r.ss_printer_info = info;
        previewAnswers_.push_back(r);
    }
    void closePreview() { previewAnswers_.push_back(s_printreturn{}); }
    // Runs while the preview is open (to look at the form it shows).
    std::function<void(const s_preview_parameter&)> onPreview;
    const std::vector<s_preview_parameter>& previews() const { return previews_; }

    // Script: answers to questions (1 yes, 2 no) and choices (null QString = cancel).
    void answer(int a) { answers_.push_back(a); }
    void yes() { answer(1); }
    void no() { answer(2); }
    void choose(const QString& c) { choices_.push_back(c); }

    const QStringList& messages() const { return messages_; }
    const QStringList& questions() const { return questions_; }
    const QStringList& log() const { return log_; }
    const std::vector<TreeSelectRequest>& treeRequests() const { return treeRequests_; }
    QString lastMessage() const { return messages_.isEmpty() ? QString() : messages_.last(); }
    void clear() {
        messages_.clear();
        questions_.clear();
        log_.clear();
        treeRequests_.clear();
        previews_.clear();
    }

private:
    std::deque<int> answers_;
    std::deque<QString> choices_;
    QStringList messages_;
    QStringList questions_;
    QStringList log_;
    std::vector<TreeSelectRequest> treeRequests_;
    std::deque<s_printreturn> previewAnswers_;
    std::vector<s_preview_parameter> previews_;
    std::vector<ReportTable> reports_;
    std::deque<std::pair<QString, QString>> exportFiles_;
    QStringList progressSteps_;
};

} // namespace fp::test
