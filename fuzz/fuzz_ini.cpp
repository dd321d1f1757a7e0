// The settings file reader and writer (settings/IniFile) on arbitrary bytes. The input is a settings
// file, optionally followed by two NUL bytes and up to eleven NUL-separated values to write into
// it (fixed awkward values otherwise). Checked for every input:
// - each of the eleven sender keys of section Main reads the same under any letter case of the
//   section and key names; a value found is at most 2047 bytes and holds no LF;
// - after the eleven keys are written into the file, each reads back as written when the reading
//   rules give the value back unchanged (one line, at most 2047 bytes), and otherwise as the
//   writer documents it: each line break one space, then cut to 2047 bytes at a whole character;
// - keys the write does not name (a twelfth key of Main, the same key in another section) read
//   the same before and after;
// - writing the same values again changes no byte.
#include "data/SjisText.h"
#include "fuzz/FuzzCheck.h"
#include "settings/IniFile.h"

#include <QByteArrayList>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using halvenna::IniFile;

constexpr std::array<const char*, 11> kKeys{"SenderName", "SenderZip",       "SenderAddress1",  "SenderAddress2",
                                            "SenderTel",  "SenderShopCode1", "SenderShopCode2", "CustomerCode",
                                            "AccountNo1", "AccountNo2",      "AccountNo3"};

// Never a value read from a file: it holds a line break.
const QByteArray kMissing("\n<missing>\n");

QByteArray flipCase(QByteArray name)
{
    for (char& c : name) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return name;
}

// What a written value reads back as, worked out the plain way: each line break (CR LF, CR, LF)
// one space, then the whole characters that fit in 2047 bytes.
QByteArray readBackOf(const QByteArray& value)
{
    QByteArray line = value;
    line.replace("\r\n", " ");
    line.replace('\r', ' ');
    line.replace('\n', ' ');
    qsizetype end = 0;
    while (end < line.size()) {
        const qsizetype step = halvenna::sjis::isLeadByte(static_cast<unsigned char>(line.at(end))) ? 2 : 1;
        if (end + step > IniFile::maxValueLength)
            break;
        end += step;
    }
    return line.left(end);
}

QByteArrayList valuesToWrite(const QByteArray& input, qsizetype separator)
{
    QByteArrayList values{"plain",
                          " blanks around ",
                          "\"quoted\"",
                          "'single'",
                          "a=b;c[d]e",
                          "[Main]",
                          "; not a comment",
                          "\x83\x5c\x95\x5c\x83\x5d", // second bytes like "\" and "]"
                          "line\r\nbreak",
                          QByteArray(),
                          QByteArray(3000, 'x')};
    if (separator < 0)
        return values;
    const QByteArrayList given = input.mid(separator + 2).split('\0');
    for (qsizetype k = 0; k < given.size() && k < values.size(); ++k)
        values[k] = given.at(k);
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype separator = input.indexOf(QByteArrayView("\0\0", 2));
    const QByteArray content = separator < 0 ? input : input.left(separator);
    const QByteArrayList values = valuesToWrite(input, separator);

    const IniFile before(content);
    for (const char* key : kKeys) {
        const QByteArray value = before.value("Main", key, kMissing);
        FUZZ_CHECK(before.value("mAIN", flipCase(key), kMissing) == value);
        if (value != kMissing) {
            FUZZ_CHECK(value.size() <= IniFile::maxValueLength);
            FUZZ_CHECK(!value.contains('\n'));
        }
    }
    const QByteArray extra = before.value("Main", "Extra", kMissing);
    const QByteArray other = before.value("Other", "SenderName", kMissing);

    IniFile after(content);
    for (size_t k = 0; k < kKeys.size(); ++k)
        after.setValue("Main", kKeys[k], values.at(qsizetype(k)));
    for (size_t k = 0; k < kKeys.size(); ++k) {
        const QByteArray& written = values.at(qsizetype(k));
        const QByteArray read = after.value("Main", kKeys[k], kMissing);
        const bool unchangedByReading =
            !written.contains('\r') && !written.contains('\n') && written.size() <= IniFile::maxValueLength;
        if (unchangedByReading)
            FUZZ_CHECK(read == written);
        else
            FUZZ_CHECK(read == readBackOf(written));
        FUZZ_CHECK(after.value("MAIN", flipCase(kKeys[k]), kMissing) == read);
    }
    FUZZ_CHECK(after.value("Main", "Extra", kMissing) == extra);
    FUZZ_CHECK(after.value("Other", "SenderName", kMissing) == other);

    IniFile again(after.content());
    for (size_t k = 0; k < kKeys.size(); ++k)
        again.setValue("Main", kKeys[k], values.at(qsizetype(k)));
    FUZZ_CHECK(again.content() == after.content());
    return 0;
}
