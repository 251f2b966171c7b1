#pragma once
// Readable gtest output for Qt values: a failed comparison of QStrings shows
// the text, not a list of QChar bytes.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <ostream>

QT_BEGIN_NAMESPACE

inline void PrintTo(const QString& s, std::ostream* os) {
    if (s.isNull())
        *os << "QString(null)";
    else
        *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QByteArray& b, std::ostream* os) { *os << "QByteArray(\"" << b.toStdString() << "\")"; }

inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i) *os << ", ";
        PrintTo(list.at(i), os);
    }
    *os << '}';
}

inline void PrintTo(const QDateTime& t, std::ostream* os) {
    if (!t.isValid())
        *os << "QDateTime(invalid)";
    else
        *os << "QDateTime(" << t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toStdString() << ')';
}

inline void PrintTo(const QVariant& v, std::ostream* os) {
    if (!v.isValid()) {
        *os << "QVariant(invalid)";
        return;
    }
    *os << "QVariant(" << v.typeName() << ", ";
    if (v.isNull())
        *os << "null";
    else
        *os << '"' << v.toString().toStdString() << '"';
    *os << ')';
}

QT_END_NAMESPACE
