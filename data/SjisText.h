#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Text in this program is code page 932 (Shift-JIS) bytes: every width, position and cut counts
// bytes, the first byte being position 1. These helpers are the one place that knows the encoding.
namespace halvenna::sjis {

// Unicode -> code page 932. Throws ConversionError naming the first character that has no
// code page 932 form: nothing is ever silently replaced by "?". The JIS forms of the few characters
// code page 932 holds under other code points (the wave dash "〜", the minus sign "−", the em dash
// and a few more) are taken as code page 932's own ("～", "－", "―"…).
QByteArray fromUnicode(const QString& text);
// True when every character of text has a code page 932 form.
bool canEncode(const QString& text);
// Code page 932 -> Unicode. Bytes that are no code page 932 character become U+001A or U+FFFD, or
// are dropped (a lead byte at the end): check with isValid where that matters.
QString toUnicode(const QByteArray& bytes);
QString toUnicode(const char* bytes, qsizetype size);
// True when bytes are code page 932 text throughout: no byte or pair of bytes that is no character
// (a lone or cut lead byte, 0x80, 0xA0, 0xFD to 0xFF, an unassigned code).
bool isValid(const QByteArray& bytes);

// The text with the JIS forms of seven characters (the wave dash "〜", the minus sign "−"...) as
// code page 932 holds them ("～", "－"...), as Windows takes them.
QString withCodePageForms(const QString& text);
// The same in place, on the characters from begin to end.
void toCodePageForms(QChar* begin, QChar* end);

// True when every byte is ASCII, which is the same text in code page 932 and in UTF-8.
bool isAscii(QByteArrayView bytes);

// True for the first byte of a double-byte character.
constexpr bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// How many bytes a character takes in code page 932, the character given as its UTF-16 code units:
// one for ASCII and the half-width katakana, two for any other it holds.
constexpr int byteWidth(QStringView character)
{
    const char16_t c = character.size() == 1 ? character.at(0).unicode() : 0xFFFF;
    return c < 0x80 || (c >= 0xFF61 && c <= 0xFF9F) ? 1 : 2;
}

// Position (from 1) of the first single byte c in s, never inside a double-byte character; 0 if none.
int find(const QByteArray& s, char c);
// The first n bytes of s; empty for n <= 0; all of s when n exceeds it.
QByteArray head(const QByteArray& s, int n);
// s without its first n bytes; s unchanged for n <= 0.
QByteArray drop(const QByteArray& s, int n);
// t placed before byte p of s; a p beyond the end of s appends t.
QByteArray insertAt(const QByteArray& s, const QByteArray& t, int p);
// s cut to at most width bytes at the last whole character that fits.
QByteArray cutToWidth(const QByteArray& s, int width);

} // namespace halvenna::sjis
