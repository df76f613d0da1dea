#pragma once

#include <cstdint>
#include <string_view>

class CArchive;

/// A record the archive can write and create again by its class name.
class CSerializable
{
public:
    virtual std::string_view GetClassName() const = 0;
    virtual ~CSerializable() = default;
    /// Reads or writes the fields in their fixed order, as the archive's direction says.
    virtual void Serialize(CArchive& ar) = 0;

    /// The schema number the class record carried when this object was read; written back as it came.
    uint16_t GetSchema() const { return m_schema; }
    void SetSchema(uint16_t schema) { m_schema = schema; }

protected:
    CSerializable() = default;
    CSerializable(const CSerializable&) = default;
    CSerializable& operator=(const CSerializable&) = default;

private:
    uint16_t m_schema = 1;
};
