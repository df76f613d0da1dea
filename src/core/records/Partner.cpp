#include "Partner.h"

namespace {

bool IsPaymentIndex(int index)
{
    return index == 0 || index == 1;
}

} // namespace

std::string CPartner::GetPaymentType(int index) const
{
    return IsPaymentIndex(index) ? m_paymentType[index] : std::string();
}

void CPartner::SetPaymentType(int index, std::string value)
{
    if (IsPaymentIndex(index))
        m_paymentType[index] = std::move(value);
}

std::string CPartner::GetPaymentId(int index) const
{
    return IsPaymentIndex(index) ? m_paymentId[index] : std::string();
}

void CPartner::SetPaymentId(int index, std::string value)
{
    if (IsPaymentIndex(index))
        m_paymentId[index] = std::move(value);
}
