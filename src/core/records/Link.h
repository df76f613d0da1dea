#pragma once

#include "LinkStatus.h"
#include "OleDateTime.h"
#include "Serializable.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

/// One paid or exchanged hyperlink: a partner's page (From page) that must carry a link to one
/// of the user's pages (To Page) with the agreed anchor text, for a paid period.
class CLink : public CSerializable
{
public:
    static constexpr std::string_view kClassName = "CLink";

    CLink();
    CLink(const CLink&) = default;
    /// An empty link whose fields a file is about to fill: skips asking the clock for today.
    static std::unique_ptr<CLink> CreateForReading() { return std::unique_ptr<CLink>(new CLink(ForReading{})); }
    CLink& operator=(const CLink&) = default;

    std::string_view GetClassName() const override { return kClassName; }
    void Serialize(CArchive& ar) override;

    int32_t GetPartnerId() const { return m_partnerId; }
    void SetPartnerId(int32_t id) { m_partnerId = id; }
    const std::string& GetProject() const { return m_project; }
    void SetProject(std::string project) { m_project = std::move(project); }

    const OleDateTime& GetFirstPaymentDate() const { return m_firstPaymentDate; }
    /// Stored with the time of day cut to midnight (a date without calendar parts as it is).
    void SetFirstPaymentDate(const OleDateTime& date);
    const OleDateTime& GetLastPaymentDate() const { return m_lastPaymentDate; }
    void SetLastPaymentDate(const OleDateTime& date);
    const OleDateTimeSpan& GetPeriod() const { return m_period; }
    /// Stored as whole days.
    void SetPeriod(const OleDateTimeSpan& span);

    int32_t GetCostMode() const { return m_costMode; }
    void SetCostMode(int32_t mode) { m_costMode = mode; }
    int32_t GetCostPerMonthValue() const { return m_costPerMonth; }
    void SetCostPerMonthValue(int32_t cost) { m_costPerMonth = cost; }
    int32_t GetCostPerPeriodValue() const { return m_costPerPeriod; }
    void SetCostPerPeriodValue(int32_t cost) { m_costPerPeriod = cost; }

    const std::string& GetFromPage() const { return m_fromPage; }
    void SetFromPage(std::string url) { m_fromPage = std::move(url); }
    const std::string& GetToPage() const { return m_toPage; }
    void SetToPage(std::string url) { m_toPage = std::move(url); }
    const std::string& GetAnchor() const { return m_anchor; }
    void SetAnchor(std::string anchor) { m_anchor = std::move(anchor); }

    int32_t GetStartingPR() const { return m_startingPR; }
    /// Takes 0..10 only; anything else leaves the value as it was.
    void SetStartingPR(int32_t value);
    int32_t GetCurrentPR() const { return LoadWord(m_currentPR); }
    void SetCurrentPR(int32_t value);
    int32_t GetPreviousPR() const { return LoadWord(m_previousPR); }
    void SetPreviousPR(int32_t value) { StoreWord(m_previousPR, value); }

    uint32_t GetStatus() const { return LoadWord(m_status); }
    void SetStatus(uint32_t status) { StoreWord(m_status, status); }
    int32_t GetReserved() const { return m_reserved; }
    void SetReserved(int32_t value) { m_reserved = value; }
    const std::string& GetComment() const { return m_comment; }
    void SetComment(std::string comment) { m_comment = std::move(comment); }
    int32_t GetExternalLinks() const { return LoadWord(m_externalLinks); }
    void SetExternalLinks(int32_t count) { StoreWord(m_externalLinks, count); }

    /// A deal bought once, forever. Stored as a period of a hundred years or more, so that files
    /// stay readable by readers that know nothing of it (they show a far-away expiry).
    static constexpr double kPermanentDays = 36525;
    bool IsPermanent() const { return m_period.IsValid() && m_period.GetDays() >= kPermanentDays - 0.5; }
    void MakePermanent() { m_period = OleDateTimeSpan(kPermanentDays); }

    /// The last paid day's successor: the period as whole calendar months after the last payment.
    /// Meaningless for a permanent deal, which never expires.
    OleDateTime GetExpiryDate() const;
    bool IsExpired() const { return IsExpired(OleDateTime::Now()); }
    bool IsExpired(const OleDateTime& now) const;
    bool IsExpiring(int days) const { return IsExpiring(days, OleDateTime::Now()); }
    bool IsExpiring(int days, const OleDateTime& now) const;
    /// Price per month ("Price"); a period shorter than a month counts the full cost once. A
    /// permanent deal has no monthly price: 0.
    int32_t GetCostPerMonth() const;
    /// Cost of the whole period ("Full cost"); for a permanent deal the one payment, whichever
    /// figure was entered.
    int32_t GetCostPerPeriod() const;
    /// What the list colours and filters a link by: the last check's status; for a link never
    /// checked, Expired or Expiring when its dates say so and 0 otherwise. Never Ok for it: no
    /// check has seen the link on its page.
    uint32_t GetListedStatus(int warningDays, const OleDateTime& now) const;
    /// Moves the last payment to the expiry date: one more period of the same length.
    void Renew();
    bool HasPRChanged() const { return GetStatus() != 0 && GetCurrentPR() != GetPreviousPR(); }

private:
    struct ForReading
    {
    };
    // A check run's workers (and the date refresh, for the status) write the status, the ranks and
    // the external-link count while the window reads them. Each is one 32-bit word taken whole; no
    // order between them is promised, so relaxed access is all it needs, and the record stays a
    // plain copyable value with the fields the file reads and writes.
    template <typename T> static T LoadWord(const T& word)
    {
        static_assert(std::atomic_ref<T>::is_always_lock_free && alignof(T) >= std::atomic_ref<T>::required_alignment);
        return std::atomic_ref<T>(const_cast<T&>(word)).load(std::memory_order_relaxed);
    }
    template <typename T> static void StoreWord(T& word, T value)
    {
        std::atomic_ref<T>(word).store(value, std::memory_order_relaxed);
    }
    explicit CLink(ForReading) {}
    int BegunMonths() const;

    int32_t m_partnerId = -1;
    std::string m_project;
    OleDateTime m_firstPaymentDate;
    OleDateTime m_lastPaymentDate;
    OleDateTimeSpan m_period;
    int32_t m_costMode = 0;
    int32_t m_costPerMonth = 0;
    int32_t m_costPerPeriod = 0;
    std::string m_fromPage;
    std::string m_toPage;
    std::string m_anchor;
    int32_t m_startingPR = 0;
    int32_t m_currentPR = -1;
    uint32_t m_status = 0;
    int32_t m_previousPR = -1;
    int32_t m_reserved = 0;
    std::string m_comment;
    int32_t m_externalLinks = 0;
};

/// The expiry date as the list, letters and reports show it: "Never" for a permanent deal, whose
/// stored period would otherwise show a date a century ahead.
std::string FormatExpiryDate(const CLink& link);
