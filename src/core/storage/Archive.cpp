#include "Archive.h"

#include "core/platform/TextEncoding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr uint16_t kNullTag = 0x0000;
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kBigObjectTag = 0x7FFF;
constexpr uint32_t kBigClassTag = 0x80000000;
constexpr uint16_t kUnicodeMarker = 0xFFFE;
constexpr std::size_t kMaxClassNameLength = 64;
// Copies made for back-references may take the file's size plus this much; a small file may
// still repeat a record a few times.
constexpr uint64_t kCopySlack = 64 * 1024;

// Every class a file of ours may name.
constexpr std::array<std::string_view, 5> kKnownClasses = {"COptions", "CPartnersManager", "CPartner", "CLinksManager",
                                                           "CLink"};

template <class T> T FromLittleEndian(T value)
{
    if constexpr (std::endian::native == std::endian::big) {
        auto bytes = std::bit_cast<std::array<uint8_t, sizeof(T)>>(value);
        std::reverse(bytes.begin(), bytes.end());
        return std::bit_cast<T>(bytes);
    }
    return value;
}

template <class T> T ToLittleEndian(T value)
{
    return FromLittleEndian(value);
}

} // namespace

CArchive::CArchive(bool storing) : m_storing(storing), m_buffer(kBufferSize)
{
}

CArchive::CArchive(CArchive&&) noexcept = default;

CArchive::~CArchive() = default;

CArchive CArchive::ForStoring(Sink sink)
{
    CArchive ar(true);
    ar.m_sink = std::move(sink);
    return ar;
}

CArchive CArchive::ForLoading(Source source, uint64_t totalSize)
{
    CArchive ar(false);
    ar.m_source = std::move(source);
    ar.m_remaining = totalSize;
    ar.m_copyBudget = totalSize + kCopySlack;
    return ar;
}

CArchive CArchive::ForLoading(std::string_view bytes)
{
    auto offset = std::make_shared<std::size_t>(0);
    return ForLoading(
        [bytes, offset](uint8_t* data, std::size_t size) {
            const std::size_t n = std::min(size, bytes.size() - *offset);
            std::memcpy(data, bytes.data() + *offset, n);
            *offset += n;
            return n;
        },
        bytes.size());
}

void CArchive::Flush()
{
    if (m_storing && m_pos > 0) {
        m_sink(m_buffer.data(), m_pos);
        m_pos = 0;
    }
}

void CArchive::Put(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        if (m_pos == m_buffer.size())
            Flush();
        const std::size_t n = std::min(size, m_buffer.size() - m_pos);
        std::memcpy(m_buffer.data() + m_pos, bytes, n);
        m_pos += n;
        bytes += n;
        size -= n;
    }
}

void CArchive::WriteRaw(const void* data, std::size_t size)
{
    Put(data, size);
}

void CArchive::Refill()
{
    // Called with an empty buffer, so every unread byte is still owed; a short source means the file shrank.
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(m_buffer.size(), m_remaining));
    std::size_t got = 0;
    while (got < want) {
        const std::size_t n = m_source(m_buffer.data() + got, want - got);
        if (n == 0)
            throw CArchiveException("the file ended early");
        got += n;
    }
    m_pos = 0;
    m_end = got;
}

void CArchive::ReadRaw(void* data, std::size_t size)
{
    if (size > m_remaining)
        throw CArchiveException("the file ended early");
    auto* out = static_cast<uint8_t*>(data);
    while (size > 0) {
        if (m_pos == m_end)
            Refill();
        const std::size_t n = std::min(size, m_end - m_pos);
        std::memcpy(out, m_buffer.data() + m_pos, n);
        m_pos += n;
        m_remaining -= n;
        out += n;
        size -= n;
    }
}

template <class T> static void IoScalar(CArchive& ar, T& v)
{
    if (ar.IsStoring()) {
        const T le = ToLittleEndian(v);
        ar.WriteRaw(&le, sizeof le);
    } else {
        T le;
        ar.ReadRaw(&le, sizeof le);
        v = FromLittleEndian(le);
    }
}

void CArchive::Io(uint8_t& v)
{
    IoScalar(*this, v);
}

void CArchive::Io(uint16_t& v)
{
    IoScalar(*this, v);
}

void CArchive::Io(int32_t& v)
{
    IoScalar(*this, v);
}

void CArchive::Io(uint32_t& v)
{
    IoScalar(*this, v);
}

void CArchive::Io(uint64_t& v)
{
    IoScalar(*this, v);
}

void CArchive::Io(double& v)
{
    IoScalar(*this, v);
}

void CArchive::Io(OleDateTime& date)
{
    int32_t status = date.GetRawStatus();
    double value = date.GetValue();
    Io(status);
    Io(value);
    if (IsLoading())
        date = OleDateTime::FromRaw(value, status);
}

void CArchive::Io(OleDateTimeSpan& span)
{
    int32_t status = span.GetRawStatus();
    double days = span.GetDays();
    Io(status);
    Io(days);
    if (IsLoading())
        span = OleDateTimeSpan::FromRaw(days, status);
}

uint64_t CArchive::ReadTextLength()
{
    uint8_t b = 0;
    Io(b);
    if (b < 0xFF)
        return b;
    uint16_t w = 0;
    Io(w);
    if (w == kUnicodeMarker)
        throw CArchiveException("a text carries its encoding marker twice");
    if (w < 0xFFFF)
        return w;
    uint32_t d = 0;
    Io(d);
    if (d < 0xFFFFFFFF)
        return d;
    uint64_t q = 0;
    Io(q);
    return q;
}

void CArchive::WriteTextLength(uint64_t length)
{
    if (length < 0xFF) {
        uint8_t b = static_cast<uint8_t>(length);
        Io(b);
        return;
    }
    uint8_t b = 0xFF;
    Io(b);
    if (length < 0xFFFE) {
        uint16_t w = static_cast<uint16_t>(length);
        Io(w);
        return;
    }
    uint16_t w = 0xFFFF;
    Io(w);
    if (length < 0xFFFFFFFF) {
        uint32_t d = static_cast<uint32_t>(length);
        Io(d);
        return;
    }
    uint32_t d = 0xFFFFFFFF;
    Io(d);
    Io(length);
}

void CArchive::Io(std::string& text)
{
    if (IsStoring()) {
        if (TextEncoding::IsAscii(text)) {
            WriteTextLength(text.size());
            WriteRaw(text.data(), text.size());
            return;
        }
        // Anything beyond ASCII goes in the UTF-16 form, which every reader of the format accepts.
        const std::u16string wide = TextEncoding::Utf8ToUtf16(text);
        uint8_t b = 0xFF;
        uint16_t marker = kUnicodeMarker;
        Io(b);
        Io(marker);
        WriteTextLength(wide.size());
        for (char16_t unit : wide) {
            uint16_t u = unit;
            Io(u);
        }
        return;
    }

    uint64_t length = 0;
    bool wide = false;
    uint8_t b = 0;
    Io(b);
    if (b < 0xFF) {
        length = b;
    } else {
        uint16_t w = 0;
        Io(w);
        if (w == kUnicodeMarker) {
            wide = true;
            length = ReadTextLength();
        } else if (w < 0xFFFF) {
            length = w;
        } else {
            uint32_t d = 0;
            Io(d);
            if (d < 0xFFFFFFFF) {
                length = d;
            } else {
                Io(length);
            }
        }
    }

    if (wide) {
        if (length > m_remaining / 2)
            throw CArchiveException("a text is longer than the file");
        std::u16string units(static_cast<std::size_t>(length), u'\0');
        ReadRaw(units.data(), units.size() * 2);
        for (char16_t& u : units)
            u = FromLittleEndian(u);
        text = TextEncoding::Utf16ToUtf8(units);
        return;
    }
    if (length > m_remaining)
        throw CArchiveException("a text is longer than the file");
    text.resize(static_cast<std::size_t>(length));
    ReadRaw(text.data(), text.size());
    if (!TextEncoding::IsAscii(text))
        text = TextEncoding::LegacyToUtf8(text);
}

void CArchive::CheckCount(uint64_t count, uint64_t minBytesEach) const
{
    if (minBytesEach > 0 && count > m_remaining / minBytesEach)
        throw CArchiveException("a count is larger than the file can hold");
}

void CArchive::WriteObject(const CSerializable* object)
{
    if (!object) {
        uint16_t tag = kNullTag;
        Io(tag);
        return;
    }
    const std::string_view name = object->GetClassName();
    auto known = std::find_if(m_classes.begin(), m_classes.end(), [&](const auto& c) { return c.name == name; });
    if (known == m_classes.end()) {
        uint16_t tag = kNewClassTag;
        uint16_t schema = object->GetSchema();
        uint16_t nameLength = static_cast<uint16_t>(name.size());
        Io(tag);
        Io(schema);
        Io(nameLength);
        WriteRaw(name.data(), name.size());
        m_classes.push_back({name, m_nextNumber++});
    } else if (known->number < kBigObjectTag) {
        uint16_t tag = static_cast<uint16_t>(kClassTag | known->number);
        Io(tag);
    } else {
        uint16_t tag = kBigObjectTag;
        uint32_t number = kBigClassTag | known->number;
        Io(tag);
        Io(number);
    }
    ++m_nextNumber; // the object's own number; we never write back-references
    const_cast<CSerializable*>(object)->Serialize(*this);
}

CArchive::ObjectHeader CArchive::ReadObjectHeader(std::string_view expectedClass)
{
    ObjectHeader header;
    uint16_t tag = 0;
    Io(tag);
    if (tag == kNullTag)
        return header;

    uint32_t classNumber = 0;
    uint32_t objectNumber = 0;
    if (tag == kNewClassTag) {
        uint16_t schema = 0;
        uint16_t nameLength = 0;
        Io(schema);
        Io(nameLength);
        if (nameLength >= kMaxClassNameLength)
            throw CArchiveException("a class name is too long");
        char name[kMaxClassNameLength];
        ReadRaw(name, nameLength);
        const std::string_view read(name, nameLength);
        auto known = std::find(kKnownClasses.begin(), kKnownClasses.end(), read);
        if (known == kKnownClasses.end())
            throw CArchiveException("the file names an unknown class");
        m_entries.push_back({true, *known, schema, nullptr});
        classNumber = static_cast<uint32_t>(m_entries.size());
    } else if (tag == kBigObjectTag) {
        uint32_t number = 0;
        Io(number);
        if (number & kBigClassTag)
            classNumber = number & ~kBigClassTag;
        else
            objectNumber = number;
        if (classNumber == 0 && objectNumber == 0)
            throw CArchiveException("a reference to object number 0");
    } else if (tag & kClassTag) {
        classNumber = tag & ~kClassTag;
    } else {
        objectNumber = tag;
    }

    if (objectNumber != 0) {
        if (objectNumber > m_entries.size() || m_entries[objectNumber - 1].isClass)
            throw CArchiveException("a reference to an object that was not read");
        const Entry& entry = m_entries[objectNumber - 1];
        if (entry.className != expectedClass)
            throw CArchiveException("an object of the wrong class");
        header.kind = ObjectHeader::Kind::Existing;
        header.existing = entry.object;
        header.existingBytes = entry.bodyBytes;
        return header;
    }

    if (classNumber == 0 || classNumber > m_entries.size() || !m_entries[classNumber - 1].isClass)
        throw CArchiveException("a reference to a class that was not read");
    const Entry& cls = m_entries[classNumber - 1];
    if (cls.className != expectedClass)
        throw CArchiveException("an object of the wrong class");
    header.kind = ObjectHeader::Kind::New;
    header.classNumber = classNumber;
    header.schema = cls.schema;
    return header;
}

std::size_t CArchive::RegisterObject(CSerializable* object, uint32_t classNumber)
{
    m_entries.push_back({false, m_entries[classNumber - 1].className, 0, object});
    return m_entries.size() - 1;
}

void CArchive::ChargeCopy(uint64_t bodyBytes)
{
    if (bodyBytes > m_copyBudget)
        throw CArchiveException("too many references to earlier objects");
    m_copyBudget -= bodyBytes;
}
