#pragma once

#include "Serializable.h"

#include <cstdint>
#include <string>

/// A partner's contact and payment details.
class CPartner : public CSerializable
{
public:
    static constexpr std::string_view kClassName = "CPartner";

    explicit CPartner(std::string name = {}) : m_name(std::move(name)) {}
    CPartner(const CPartner&) = default;
    CPartner& operator=(const CPartner&) = default;

    std::string_view GetClassName() const override { return kClassName; }
    void Serialize(CArchive& ar) override;

    int32_t GetId() const { return m_id; }
    void SetId(int32_t id) { m_id = id; }
    const std::string& GetName() const { return m_name; }
    void SetName(std::string value) { m_name = std::move(value); }
    const std::string& GetOrganization() const { return m_organization; }
    void SetOrganization(std::string value) { m_organization = std::move(value); }
    const std::string& GetEmail() const { return m_email; }
    void SetEmail(std::string value) { m_email = std::move(value); }
    const std::string& GetIcq() const { return m_icq; }
    void SetIcq(std::string value) { m_icq = std::move(value); }
    const std::string& GetPhone() const { return m_phone; }
    void SetPhone(std::string value) { m_phone = std::move(value); }
    const std::string& GetExtra() const { return m_extra; }
    void SetExtra(std::string value) { m_extra = std::move(value); }
    const std::string& GetComments() const { return m_comments; }
    void SetComments(std::string value) { m_comments = std::move(value); }

    /// Payment methods 0 and 1; any other index reads "" and writes nothing.
    std::string GetPaymentType(int index) const;
    void SetPaymentType(int index, std::string value);
    std::string GetPaymentId(int index) const;
    void SetPaymentId(int index, std::string value);

private:
    int32_t m_id = -1;
    std::string m_name;
    std::string m_organization;
    std::string m_email;
    std::string m_icq;
    std::string m_phone;
    std::string m_extra;
    std::string m_paymentType[2];
    std::string m_paymentId[2];
    std::string m_comments;
};
