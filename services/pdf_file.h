#pragma once
// Writing a print into a PDF file so that a failed print leaves no file behind
// that could pass for it.
#include <QString>

#include <functional>

class QPdfWriter;

namespace fp {

// The resolution (dots per inch) PDF pages are written at.
inline constexpr int kPdfResolution = 1200;

// Writes `file` with a PDF writer handed to `paint`, which puts its paper on
// the writer, paints every page and ends its painter; it answers false with a
// message in *error when it could not. False as well, with a message, when the
// file cannot be opened or not everything could be written (a full disk): then
// a regular file of that name is removed (never a device or a link).
[[nodiscard]] bool writePdfFile(const QString& file, const std::function<bool(QPdfWriter&, QString*)>& paint,
                                QString* error);

} // namespace fp
