#include "service/requestbody.h"

std::size_t utf8SequenceLength(const std::string &text, std::size_t pos)
{
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    std::size_t length;
    unsigned code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - pos < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[pos + i]);
        if ((c & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (c & 0x3F);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
        return 0;
    return length;
}

namespace
{

class Reader
{
public:
    explicit Reader(const std::string &text) : m_text(text) {}

    void skipSpace()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\n' || m_text[m_pos] == '\r'))
            ++m_pos;
    }
    bool atEnd() const { return m_pos == m_text.size(); }
    bool take(char c)
    {
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool peek(char c) const { return m_pos < m_text.size() && m_text[m_pos] == c; }
    // Whether a JSON value other than a string starts here.
    bool atValue() const
    {
        if (m_pos >= m_text.size())
            return false;
        const char c = m_text[m_pos];
        return c == '{' || c == '[' || c == 't' || c == 'f' || c == 'n' || c == '-' || (c >= '0' && c <= '9');
    }

    // A JSON string at the current position, decoded to UTF-8.
    bool readString(std::string *out)
    {
        if (!take('"'))
            return false;
        while (m_pos < m_text.size()) {
            const unsigned char c = static_cast<unsigned char>(m_text[m_pos]);
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\') {
                if (!readEscape(out))
                    return false;
            } else if (c < 0x80) {
                // A run of plain characters (a digest, an order number) is copied at once.
                std::size_t end = m_pos + 1;
                while (end < m_text.size() && plain(m_text[end]))
                    ++end;
                out->append(m_text, m_pos, end - m_pos);
                m_pos = end;
            } else if (!copyUtf8Sequence(out)) {
                return false;
            }
        }
        return false;
    }

private:
    static bool plain(char c) { return c >= 0x20 && c != '"' && c != '\\'; }

    bool readHex4(unsigned *value)
    {
        if (m_text.size() - m_pos < 4)
            return false;
        *value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_pos++];
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
            *value = *value * 16 + digit;
        }
        return true;
    }

    static void appendUtf8(unsigned code, std::string *out)
    {
        if (code < 0x80) {
            out->push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (code >> 6)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (code >> 12)));
            out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (code >> 18)));
            out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    bool readEscape(std::string *out)
    {
        ++m_pos; // the backslash
        if (m_pos >= m_text.size())
            return false;
        const char c = m_text[m_pos++];
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out->push_back(c);
            return true;
        case 'b':
            out->push_back('\b');
            return true;
        case 'f':
            out->push_back('\f');
            return true;
        case 'n':
            out->push_back('\n');
            return true;
        case 'r':
            out->push_back('\r');
            return true;
        case 't':
            out->push_back('\t');
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        unsigned code;
        if (!readHex4(&code) || (code >= 0xDC00 && code <= 0xDFFF))
            return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            // A high surrogate is only text together with the low one that follows.
            unsigned low;
            if (!take('\\') || !take('u') || !readHex4(&low) || low < 0xDC00 || low > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(code, out);
        return true;
    }

    bool copyUtf8Sequence(std::string *out)
    {
        const std::size_t length = utf8SequenceLength(m_text, m_pos);
        if (length == 0)
            return false;
        out->append(m_text, m_pos, length);
        m_pos += length;
        return true;
    }

    const std::string &m_text;
    std::size_t m_pos = 0;
};

FlatObject problem(FlatObject::Problem kind, std::string key = {})
{
    FlatObject result;
    result.problem = kind;
    result.key = std::move(key);
    return result;
}

} // namespace

FlatObject parseFlatObject(const std::string &body)
{
    Reader reader(body);
    FlatObject result;
    reader.skipSpace();
    if (!reader.take('{'))
        return problem(FlatObject::Problem::Malformed);
    reader.skipSpace();
    if (!reader.take('}')) {
        for (;;) {
            std::string key;
            reader.skipSpace();
            if (!reader.readString(&key))
                return problem(FlatObject::Problem::Malformed);
            reader.skipSpace();
            if (!reader.take(':'))
                return problem(FlatObject::Problem::Malformed);
            reader.skipSpace();
            if (!reader.peek('"'))
                return reader.atValue() ? problem(FlatObject::Problem::NotAString, key)
                                        : problem(FlatObject::Problem::Malformed);
            std::string value;
            if (!reader.readString(&value))
                return problem(FlatObject::Problem::Malformed);
            if (!result.members.emplace(key, std::move(value)).second)
                return problem(FlatObject::Problem::RepeatedKey, key);
            reader.skipSpace();
            if (reader.take('}'))
                break;
            if (!reader.take(','))
                return problem(FlatObject::Problem::Malformed);
        }
    }
    reader.skipSpace();
    if (!reader.atEnd())
        return problem(FlatObject::Problem::Malformed);
    return result;
}
