#include "services/pdf_file.h"

#include <QFile>
#include <QFileInfo>
#include <QPdfWriter>

namespace fp {

namespace {

// A file that remembers a failed write: the next write clears the file's
// error, and the PDF writer does not look at the result of its writes.
class WriteCheckedFile : public QFile {
public:
    using QFile::QFile;
    bool anyWriteFailed() const { return failed_; }

protected:
    qint64 writeData(const char* data, qint64 len) override {
        const qint64 written = QFile::writeData(data, len);
        if (written != len) failed_ = true;
        return written;
    }

private:
    bool failed_ = false;
};

} // namespace

bool writePdfFile(const QString& file, const std::function<bool(QPdfWriter&, QString*)>& paint, QString* error) {
    const QString path = QFileInfo(file).absoluteFilePath();
    // The PDF writer does not report a failed write (a full disk): it writes
    // into a file of ours, whose errors are read once it has finished.
    WriteCheckedFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error) *error = QStringLiteral("PDF文件无法写入：%1").arg(path);
        return false;
    }
    bool painted = false;
    {
        QPdfWriter writer(&out);
        writer.setResolution(kPdfResolution);
        writer.setCreator(QStringLiteral("fpdesk"));
        painted = paint(writer, error);
    }
    bool written = !out.anyWriteFailed() && out.flush();
    out.close();
    written = written && out.error() == QFileDevice::NoError;
    if (painted && written) return true;
    // What was written is not the print: a regular file is removed (never a
    // device or anything else the name may stand for).
    if (const QFileInfo info(path); info.isFile() && !info.isSymLink())
        (void)QFile::remove(path); // the failure to report is the writing's
    // A write that failed is the cause even where the painting stopped on it
    // (the writer cannot begin a new page once a write has failed).
    if (!written && error) *error = QStringLiteral("PDF文件没有完整写入（磁盘已满？），没有打印：%1").arg(path);
    return false;
}

} // namespace fp
