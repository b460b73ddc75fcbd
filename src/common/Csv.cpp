#include "common/Csv.h"

namespace regbench::common {

QString Csv::field(const QString& text) {
    static const QString special = QStringLiteral(",\"\r\n");
    bool quote = false;
    for (const QChar c : text)
        quote = quote || special.contains(c);
    if (!quote)
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString Csv::line(const QStringList& fields) {
    QString text;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            text += QLatin1Char(',');
        text += field(fields[i]);
    }
    return text + QLatin1Char('\n');
}

namespace {

// Walks the text one record at a time.
class Reader {
public:
    explicit Reader(const QString& text) : text_(text) {}

    bool atEnd() const { return at_ >= text_.size(); }
    int line() const { return line_; }

    // False with `problem` set when the record is malformed.
    bool record(QStringList& fields, QString& problem) {
        fields.clear();
        while (true) {
            QString value;
            if (!fieldAt(value, problem))
                return false;
            fields << value;
            if (atEnd())
                return true;
            const QChar c = text_[at_++];
            if (c == QLatin1Char(','))
                continue;
            if (c == QLatin1Char('\r') && !atEnd() && text_[at_] == QLatin1Char('\n'))
                ++at_;
            ++line_;
            return true;
        }
    }

private:
    bool isEnd(QChar c) const {
        return c == QLatin1Char(',') || c == QLatin1Char('\n') || c == QLatin1Char('\r');
    }

    bool fieldAt(QString& value, QString& problem) {
        if (atEnd() || text_[at_] != QLatin1Char('"')) {
            while (!atEnd() && !isEnd(text_[at_])) {
                if (text_[at_] == QLatin1Char('"')) {
                    problem = QStringLiteral("a quote inside a field that does not start with one");
                    return false;
                }
                value += text_[at_++];
            }
            return true;
        }
        const int opened = line_;
        ++at_;
        while (true) {
            if (atEnd()) {
                line_ = opened;
                problem = QStringLiteral("a quoted field that is never closed");
                return false;
            }
            const QChar c = text_[at_++];
            if (c == QLatin1Char('\n'))
                ++line_;
            if (c != QLatin1Char('"')) {
                value += c;
            } else if (!atEnd() && text_[at_] == QLatin1Char('"')) {
                value += c;
                ++at_;
            } else {
                if (!atEnd() && !isEnd(text_[at_])) {
                    problem = QStringLiteral("text after a closing quote");
                    return false;
                }
                return true;
            }
        }
    }

    const QString& text_;
    qsizetype at_ = 0;
    int line_ = 1;
};

} // namespace

Csv::Parsed Csv::parse(const QString& text) {
    Parsed parsed;
    Reader reader(text);
    while (!reader.atEnd()) {
        Record record;
        record.line = reader.line();
        if (!reader.record(record.fields, parsed.problem)) {
            parsed.problemLine = reader.line();
            return parsed;
        }
        if (record.fields.size() > 1 || !record.fields.first().trimmed().isEmpty())
            parsed.records.push_back(std::move(record));
    }
    return parsed;
}

} // namespace regbench::common
