#include "Link.h"

#include <cmath>
#include <limits>

namespace {

OleDateTime Midnight(const OleDateTime& date)
{
    const DateParts p = date.GetParts();
    if (p.year < 0)
        return date;
    const OleDateTime cut = OleDateTime::FromParts(p.year, p.month, p.day);
    return cut.IsValid() ? cut : date;
}

// Prices are 32-bit; a huge period times a huge price saturates instead of wrapping.
int32_t Clamp32(int64_t value)
{
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

} // namespace

CLink::CLink() : m_firstPaymentDate(OleDateTime::Today()), m_lastPaymentDate(m_firstPaymentDate)
{
}

void CLink::SetFirstPaymentDate(const OleDateTime& date)
{
    m_firstPaymentDate = Midnight(date);
}

void CLink::SetLastPaymentDate(const OleDateTime& date)
{
    m_lastPaymentDate = Midnight(date);
}

void CLink::SetPeriod(const OleDateTimeSpan& span)
{
    if (!span.IsValid()) {
        m_period = span;
        return;
    }
    // Half a second away from zero absorbs the rounding error of day counts taken from date differences.
    const double days = span.GetDays();
    const double adjusted = days + (days < 0 ? -1.0 / 172800.0 : 1.0 / 172800.0);
    m_period = OleDateTimeSpan(std::trunc(adjusted));
}

void CLink::SetStartingPR(int32_t value)
{
    if (static_cast<uint32_t>(value) <= 10)
        m_startingPR = value;
}

void CLink::SetCurrentPR(int32_t value)
{
    if (static_cast<uint32_t>(value) <= 10)
        StoreWord(m_currentPR, value);
}

OleDateTime CLink::GetExpiryDate() const
{
    const int months = MonthsBetween(m_lastPaymentDate + m_period, m_lastPaymentDate, true);
    return AddMonths(m_lastPaymentDate, months);
}

bool CLink::IsExpired(const OleDateTime& now) const
{
    return !IsPermanent() && now > GetExpiryDate();
}

bool CLink::IsExpiring(int days, const OleDateTime& now) const
{
    if (IsPermanent())
        return false;
    if (IsExpired(now))
        return true;
    return now > GetExpiryDate() - OleDateTimeSpan(static_cast<double>(days));
}

int CLink::BegunMonths() const
{
    return MonthsBetween(m_lastPaymentDate + m_period, m_lastPaymentDate, false);
}

int32_t CLink::GetCostPerMonth() const
{
    // Spreading a one-off payment over the hundred years that mark it would make a price up.
    if (IsPermanent())
        return 0;
    if (m_costMode == 0)
        return m_costPerMonth;
    const int months = BegunMonths();
    if (months == 0)
        return m_costPerPeriod;
    return Clamp32(static_cast<int64_t>(m_costPerPeriod) / months);
}

int32_t CLink::GetCostPerPeriod() const
{
    if (m_costMode == 1)
        return m_costPerPeriod;
    if (IsPermanent())
        return m_costPerMonth; // paid once, like a period shorter than a month
    const int months = BegunMonths();
    if (months == 0)
        return m_costPerMonth;
    return Clamp32(static_cast<int64_t>(months) * m_costPerMonth);
}

uint32_t CLink::GetListedStatus(int warningDays, const OleDateTime& now) const
{
    const uint32_t status = GetStatus();
    if (status != StatusNone || IsPermanent())
        return status;
    // The calendar walk behind the expiry date is the dear part: taken once, as IsExpired and
    // IsExpiring would take it twice, for lists of many links never checked (a fresh import).
    const OleDateTime expiry = GetExpiryDate();
    if (now > expiry)
        return StatusExpired;
    return now > expiry - OleDateTimeSpan(static_cast<double>(warningDays)) ? StatusExpiring : StatusNone;
}

void CLink::Renew()
{
    // Nothing to renew in a deal bought for good.
    if (IsPermanent())
        return;
    m_lastPaymentDate = GetExpiryDate();
}

std::string FormatExpiryDate(const CLink& link)
{
    return link.IsPermanent() ? std::string("Never") : FormatDate(link.GetExpiryDate());
}
