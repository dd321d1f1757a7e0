#include "roster/import/MemberImport.h"

#include "data/SjisText.h"
#include "data/Table.h"
#include "data/sql/SqlConnection.h"
#include "roster/model/RecordRules.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <exception>
#include <optional>
#include <typeinfo>

namespace halvenna {

namespace {

// The member fields the eight values go to, in the order they are written; every line writes
// them, so the table looks their positions up once.
const FieldNames kMemberFields{"id_no", "name", "name_kana", "zip", "address1", "address2", "tel", "fax"};

// Where the fields the derived ones are derived from stand among a line's values.
const std::vector<int>& sourcePositions()
{
    static const std::vector<int> positions = [] {
        std::vector<int> p;
        for (const QString& name : rules::memberSourceFields().names()) {
            const qsizetype k = kMemberFields.names().indexOf(name);
            if (k < 0) // a derived field must come from what a line holds
                throw Error(QStringLiteral("項目 '%1' は読込の行にありません").arg(name));
            p.push_back(int(k));
        }
        return p;
    }();
    return positions;
}

} // namespace

ImportCancelled::ImportCancelled() : Error(QStringLiteral("データの読込を中止しました")) {}

MemberImport::MemberImport(Table& members) : members_(members) {}

void MemberImport::setProgress(Progress progress, qint64 step)
{
    progress_ = std::move(progress);
    progressStep_ = step > 0 ? step : 1;
}

void MemberImport::setChunkLines(int lines)
{
    chunkLines_ = lines > 0 ? lines : 1;
}

int MemberImport::run(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Error(QStringLiteral("ファイル %1 を開けません (%2)")
                        .arg(QDir::toNativeSeparators(fileName), openProblem(fileName)));
    // The file closes when it goes out of scope, whichever way the run ends.
    return run(file, fileName);
}

bool MemberImport::isUtf8(QByteArrayView start)
{
    if (start.startsWith("\xEF\xBB\xBF"))
        return true;
    if (sjis::isAscii(start))
        return false;
    // Whole lines only, so that a character cut at the end of the sample is not taken for an error.
    const qsizetype lastLineEnd = start.lastIndexOf('\n');
    const QByteArrayView lines = lastLineEnd > 0 ? start.first(lastLineEnd) : start;
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString decoded = utf8.decode(lines);
    return !utf8.hasError() && !sjis::isValid(lines.toByteArray());
}

QByteArray MemberImport::encodingSample(QIODevice& device)
{
    QByteArray start = device.peek(kSniffBytes);
    const auto firstNonAscii = [](QByteArrayView bytes) -> qsizetype {
        for (qsizetype i = 0; i < bytes.size(); ++i)
            if (static_cast<unsigned char>(bytes[i]) >= 0x80)
                return i;
        return -1;
    };
    if (start.startsWith("\xEF\xBB\xBF"))
        return start;
    qsizetype at = firstNonAscii(start);
    if (at >= 0 || start.size() < kSniffBytes || device.isSequential())
        return at > 0 ? start.mid(at) : start;
    // Only ASCII so far: the first bytes that are not decide, however far into the file.
    const qint64 origin = device.pos();
    QByteArray sample;
    QByteArray chunk;
    (void)device.skip(start.size());
    while (sample.isEmpty()) {
        chunk = device.read(kSniffBytes);
        if (chunk.isEmpty())
            break;
        at = firstNonAscii(chunk);
        if (at < 0)
            continue;
        sample = chunk.mid(at);
        if (sample.size() < kSniffBytes)
            sample += device.read(kSniffBytes - sample.size());
    }
    if (!device.seek(origin))
        throw Error(QStringLiteral("ファイルを先頭から読み直せません"));
    return sample.isEmpty() ? start : sample;
}

QByteArray MemberImport::encodingSampleAt(const QByteArray& line, CsvLineReader& reader)
{
    qsizetype at = 0;
    while (at < line.size() && static_cast<unsigned char>(line[at]) < 0x80)
        ++at;
    QByteArray sample = line.mid(at) + '\n';
    if (sample.size() < kSniffBytes)
        sample += reader.peek(kSniffBytes - sample.size());
    return sample;
}

void MemberImport::checkLine(const MemberValues& values) const
{
    const std::vector<int>& fields = members_.resolve(kMemberFields);
    if (members_.convertedValue(fields[0], FieldValue::text(values[0])).isNull())
        throw ConversionError(QStringLiteral("項目 '%1' の値として不正です").arg(kMemberFields.names().front()));
    for (int k = 0; k < kMemberValueCount; ++k)
        members_.checkText(fields[size_t(k)], values[k]);
}

void MemberImport::rethrowAtLine() const
{
    const QString prefix = QStringLiteral("%1 行目").arg(lineNumber_);
    const auto atLine = [&prefix](const QString& message) {
        return message.startsWith(prefix) ? message : prefix + QStringLiteral(": ") + message;
    };
    // What the line itself was refused for names the line; a failure of the engine, a stale row or
    // a cancel keeps its own words.
    try {
        throw;
    } catch (const ConversionError& e) {
        throw ConversionError(atLine(e.message()));
    } catch (const Error& e) {
        if (typeid(e) == typeid(Error))
            throw Error(atLine(e.message()));
        if (typeid(e) == typeid(DatabaseError))
            throw DatabaseError(atLine(e.message()));
        throw;
    }
}

QByteArray MemberImport::fromUtf8Line(const QByteArray& line) const
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(line);
    if (utf8.hasError())
        throw Error(QStringLiteral("%1 行目に UTF-8 として読めないバイトがあります").arg(lineNumber_));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString ch = text.mid(i, len);
        if (!sjis::canEncode(ch))
            throw Error(QStringLiteral("%1 行目の '%2' (U+%3) はシフト JIS にない文字のため読み込めません")
                            .arg(lineNumber_)
                            .arg(ch)
                            .arg(QString::number(ch.toUcs4().value(0), 16).toUpper().rightJustified(4, u'0')));
        i += len - 1;
    }
    return sjis::fromUnicode(text);
}

int MemberImport::run(QIODevice& device, const QString& fileName)
{
    cancelRequested_ = false;
    linesMerged_ = 0;
    lineNumber_ = 0;
    // A file saved as UTF-8 (with its byte-order mark, or whose first bytes that are not ASCII read
    // as UTF-8 and not as code page 932) is converted line by line; a code page 932 file is read as
    // it is. Input that cannot be read again from its start (a pipe) and begins with more ASCII
    // than the sample is decided at its first line that is not ASCII: the lines before it read the
    // same either way.
    const QByteArray sample = encodingSample(device);
    std::optional<bool> utf8;
    if (!device.isSequential() || !sjis::isAscii(sample))
        utf8 = isUtf8(sample);
    if (device.peek(3) == "\xEF\xBB\xBF")
        (void)device.read(3);
    CsvLineReader reader(device, fileName, readChunkSize_);
    const qint64 fileSize = device.isSequential() ? -1 : device.size();
    qint64 reported = 0;

    // The bound grids are not redrawn for every line; they and the detail tables catch up once at
    // the end. Pending input of a bound editor is still written when the first lookup settles the row.
    Table::ControlsSuspended suspended(members_);
    bool inBatch = false;
    int linesInBatch = 0;
    const bool bulk = members_.storesInBulk();
    pending_.clear();
    pendingKeys_.clear();
    lastKey_ = FieldValue();
    if (bulk)
        members_.checkBrowseMode(); // as the first lookup would
    try {
        QByteArray line;
        bool storing = false;
        while (reader.readLine(line)) {
            ++lineNumber_;
            if (cancelRequested_)
                throw ImportCancelled();
            MemberValues values;
            if (!utf8 && !sjis::isAscii(line))
                utf8 = isUtf8(encodingSampleAt(line, reader));
            try {
                values = splitMemberLine(utf8.value_or(false) ? fromUtf8Line(line) : line);
                if (!storing && beforeFirstStore_)
                    checkLine(values);
            } catch (...) {
                rethrowAtLine();
            }
            if (!storing) {
                storing = true;
                if (beforeFirstStore_)
                    beforeFirstStore_();
            }
            if (!inBatch) {
                members_.beginBatch();
                inBatch = true;
            }
            try {
                if (bulk)
                    mergeLater(values);
                else
                    merge(values);
            } catch (...) {
                rethrowAtLine();
            }
            ++linesMerged_;
            if (++linesInBatch == chunkLines_) {
                flush();
                inBatch = false;
                linesInBatch = 0;
                members_.endBatch();
            }
            if (progress_ && reader.bytesRead() - reported >= progressStep_) {
                reported = reader.bytesRead();
                progress_(reported, fileSize);
            }
        }
        if (inBatch) {
            flush();
            inBatch = false;
            members_.endBatch();
        }
    } catch (const sql::EngineError&) {
        // The engine failed: what waits is dropped with the transaction the engine ended.
        pending_.clear();
        if (inBatch)
            members_.endBatch();
        throw;
    } catch (...) {
        // Keep what was posted before the failing line. Should that commit fail too, its error is
        // the one to report: it means those lines were not kept after all.
        if (inBatch) {
            flush();
            members_.endBatch();
        }
        throw;
    }
    // As after the lines merged one by one: the table stands on the last member written.
    if (bulk && !lastKey_.isNull())
        members_.locate(members_.resolve(kMemberFields).front(), lastKey_);
    if (progress_)
        progress_(reader.bytesRead(), fileSize);
    return linesMerged_;
}

void MemberImport::mergeLater(const MemberValues& values)
{
    const std::vector<int>& fields = members_.resolve(kMemberFields);
    // Refused as merge() refuses it: the member number as a lookup reads it, then the text.
    std::vector<FieldValue> row;
    row.reserve(size_t(kMemberValueCount) + size_t(rules::memberDerivedFields().names().size()));
    row.push_back(members_.convertedValue(fields[0], FieldValue::text(values[0])));
    if (row[0].isNull())
        throw ConversionError(QStringLiteral("項目 '%1' の値として不正です").arg(kMemberFields.names().front()));
    for (int k = 0; k < kMemberValueCount; ++k)
        members_.checkText(fields[size_t(k)], values[k]);
    for (int k = 1; k < kMemberValueCount; ++k)
        row.push_back(members_.convertedValue(fields[size_t(k)], FieldValue::text(values[k])));
    sources_.clear();
    for (const int k : sourcePositions())
        sources_.push_back(row[size_t(k)]);
    rules::deriveMemberFields(sources_, row);
    const qint32 key = row[0].asInteger();
    // The same member twice in a page: the page so far is stored first, so the later line wins.
    if (pendingKeys_.contains(key))
        flush();
    pendingKeys_.insert(key);
    lastKey_ = row[0];
    pending_.push_back(std::move(row));
    if (pending_.size() >= kBulkPage)
        flush();
}

void MemberImport::flush()
{
    if (pending_.empty())
        return;
    // The line's fields, then the derived ones, as mergeLater lays a row out.
    std::vector<int> stored = members_.resolve(kMemberFields);
    const std::vector<int>& derived = members_.resolve(rules::memberDerivedFields());
    stored.insert(stored.end(), derived.begin(), derived.end());
    std::vector<std::vector<FieldValue>> rows;
    rows.swap(pending_);
    pendingKeys_.clear();
    members_.mergeRows(stored, rows);
}

void MemberImport::merge(const MemberValues& values)
{
    const std::vector<int>& fields = members_.resolve(kMemberFields);
    LocateOptions options;
    options.caseInsensitive = true;
    const bool found = members_.locate(fields[0], FieldValue::text(values[0]), options);
    // The table keeps text as characters: bytes that are no code page 932 character would be stored
    // as another character, or dropped. Such a line is refused before anything of it is written, so
    // that no half of it is left pending; bytes beyond a field's width are cut away anyway.
    for (int k = 0; k < kMemberValueCount; ++k)
        members_.checkText(fields[size_t(k)], values[k]);
    if (found)
        members_.edit();
    else
        members_.append();
    for (int k = 0; k < kMemberValueCount; ++k)
        members_.setFieldText(fields[size_t(k)], values[k]);
    members_.post();
}

} // namespace halvenna
