#pragma once

#include "core/records/OleDateTime.h"
#include "core/records/Serializable.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

/// A damaged or truncated archive, or a failed write; caught at the boundary of Load and Save.
class CArchiveException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The little-endian serialisation stream of the database file and "ORX.cfg": primitives,
/// length-prefixed texts and tagged object references with class records.
///
/// Reading trusts nothing: no length or count reaches past the bytes that remain, and an object
/// number is followed only when that object was read before.
class CArchive
{
public:
    /// Receives written bytes; throws CArchiveException when they cannot be stored.
    using Sink = std::function<void(const uint8_t* data, std::size_t size)>;
    /// Fills up to `size` bytes and returns how many; 0 at the end.
    using Source = std::function<std::size_t(uint8_t* data, std::size_t size)>;

    static CArchive ForStoring(Sink sink);
    static CArchive ForLoading(Source source, uint64_t totalSize);
    static CArchive ForLoading(std::string_view bytes);

    CArchive(CArchive&&) noexcept;
    ~CArchive();

    bool IsStoring() const { return m_storing; }
    bool IsLoading() const { return !m_storing; }
    /// Bytes left to read.
    uint64_t Remaining() const { return m_remaining; }
    /// Hands buffered bytes to the sink; call once at the end of a write.
    void Flush();

    // Each reads or writes the value, as the archive's direction says.
    void Io(uint8_t& v);
    void Io(uint16_t& v);
    void Io(int32_t& v);
    void Io(uint32_t& v);
    void Io(uint64_t& v);
    void Io(double& v);
    void Io(std::string& text);
    void Io(OleDateTime& date);
    void Io(OleDateTimeSpan& span);

    void WriteRaw(const void* data, std::size_t size);
    void ReadRaw(void* data, std::size_t size);

    /// Writes a tagged reference; a class record precedes the first object of each class.
    void WriteObject(const CSerializable* object);

    /// Reads an object of class T, or null for the null reference. A reference to an object read
    /// earlier yields a copy of it, so that every record keeps exactly one owner.
    template <class T> std::unique_ptr<T> ReadObject()
    {
        const ObjectHeader header = ReadObjectHeader(T::kClassName);
        if (header.kind == ObjectHeader::Kind::Null)
            return nullptr;
        if (header.kind == ObjectHeader::Kind::Existing) {
            if constexpr (std::is_copy_constructible_v<T>) {
                ChargeCopy(header.existingBytes);
                return std::make_unique<T>(static_cast<const T&>(*header.existing));
            } else
                throw CArchiveException("a collection is referenced twice");
        }
        std::unique_ptr<T> object;
        if constexpr (requires { T::CreateForReading(); })
            object = T::CreateForReading();
        else
            object = std::make_unique<T>();
        object->SetSchema(header.schema);
        const std::size_t entry = RegisterObject(object.get(), header.classNumber);
        const uint64_t before = m_remaining;
        object->Serialize(*this);
        m_entries[entry].bodyBytes = before - m_remaining;
        return object;
    }

    /// Throws unless at least count × minBytesEach bytes remain: a cheap guard before a loop.
    void CheckCount(uint64_t count, uint64_t minBytesEach) const;

private:
    struct ObjectHeader
    {
        enum class Kind
        {
            Null,
            Existing,
            New
        } kind = Kind::Null;
        CSerializable* existing = nullptr;
        uint64_t existingBytes = 0;
        uint32_t classNumber = 0;
        uint16_t schema = 1;
    };
    // One entry per number handed out; classes and objects share the sequence.
    struct Entry
    {
        bool isClass = false;
        std::string_view className; // for objects: the class they belong to
        uint16_t schema = 1;
        CSerializable* object = nullptr;
        uint64_t bodyBytes = 0; // for objects: how much of the file their fields took
    };
    struct WrittenClass
    {
        std::string_view name;
        uint32_t number;
    };

    explicit CArchive(bool storing);
    ObjectHeader ReadObjectHeader(std::string_view expectedClass);
    /// Returns the object's index in m_entries.
    std::size_t RegisterObject(CSerializable* object, uint32_t classNumber);
    /// A two-byte reference could otherwise copy a large record thousands of times, so copies
    /// together may take about as much as the file itself. Our own files never hold a reference.
    void ChargeCopy(uint64_t bodyBytes);
    uint64_t ReadTextLength();
    void WriteTextLength(uint64_t length);
    void Refill();
    void Put(const void* data, std::size_t size);

    bool m_storing;
    Sink m_sink;
    Source m_source;
    std::vector<uint8_t> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    uint64_t m_remaining = 0;
    uint64_t m_copyBudget = 0; // reading

    std::vector<Entry> m_entries;        // reading
    std::vector<WrittenClass> m_classes; // writing
    uint32_t m_nextNumber = 1;           // writing
};
