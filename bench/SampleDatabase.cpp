#include "SampleDatabase.h"

#include "core/records/LinkStatus.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/storage/ORXDatabase.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

// SplitMix64 with our own range helpers: the standard distributions differ between standard
// libraries, and the sample must be the same file everywhere.
class Random
{
public:
    explicit Random(uint64_t seed) : m_state(seed) {}

    uint64_t Next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    /// 0 <= result < n
    std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
    /// lo <= result <= hi
    int Between(int lo, int hi) { return lo + static_cast<int>(Below(static_cast<std::size_t>(hi - lo + 1))); }
    /// True in `percent` out of 100 draws.
    bool Percent(unsigned percent) { return Below(100) < percent; }
    /// Small indexes far more often than large ones, as with the projects a user works on most.
    std::size_t Skewed(std::size_t n)
    {
        const double u = static_cast<double>(Next() >> 11) / 9007199254740992.0;
        return static_cast<std::size_t>(static_cast<double>(n) * u * u * u);
    }
    template <class T, std::size_t N> const T& Pick(const std::array<T, N>& items) { return items[Below(N)]; }

private:
    uint64_t m_state;
};

using Words = std::array<std::string_view, 40>;

constexpr Words kUrlWords = {
    "garden", "travel", "cheap",  "flights", "hotel",   "review", "guide",  "best",   "news",  "photo",
    "music",  "recipe", "coffee", "bike",    "fishing", "forum",  "auto",   "parts",  "home",  "decor",
    "health", "diet",   "yoga",   "crypto",  "poker",   "dating", "jobs",   "career", "loans", "insurance",
    "pets",   "dogs",   "cats",   "kids",    "toys",    "games",  "movies", "books",  "art",   "design",
};

constexpr std::array<std::string_view, 8> kTlds = {".com", ".net", ".org", ".info", ".de", ".ru", ".co.uk", ".biz"};

constexpr Words kAnchorWords = {
    "cheap",   "flights", "to",       "London",   "best",       "garden",  "tools",   "online", "buy",    "used",
    "cars",    "hotel",   "deals",    "in",       "Paris",      "organic", "coffee",  "beans",  "free",   "poker",
    "games",   "dog",     "training", "tips",     "wedding",    "dresses", "for",     "sale",   "family", "holidays",
    "fishing", "tackle",  "shop",     "mortgage", "calculator", "yoga",    "classes", "web",    "design", "agency",
};

// Texts that leave ASCII, and so are stored in the UTF-16 form.
constexpr std::array<std::string_view, 12> kForeignAnchors = {
    "Günstige Flüge nach München",   "Gartenmöbel aus Holz",      "Ferienwohnung an der Ostsee",
    "Hotels in Köln günstig buchen", "купить цветы недорого",     "туры в Турцию из Москвы",
    "ремонт квартир под ключ",       "лучшие рецепты борща",      "Straßenbahn Fahrplan Zürich",
    "Bücher online bestellen",       "автозапчасти для иномарок", "Ärztin für Naturheilkunde",
};

constexpr Words kCommentWords = {
    "paid",    "by",      "WebMoney", "until",    "renewal", "asked",    "for",   "discount", "owner",   "promised",
    "to",      "move",    "the",      "link",     "higher",  "on",       "page",  "sitewide", "footer",  "deal",
    "contact", "via",     "ICQ",      "only",     "slow",    "answers",  "moved", "from",     "old",     "domain",
    "second",  "payment", "pending",  "nofollow", "removed", "restored", "after", "email",    "checked", "again",
};

constexpr std::array<std::string_view, 6> kForeignComments = {
    "Zahlung per Überweisung, Rechnung kommt monatlich",     "Besitzer antwortet nur auf Deutsch, sehr zuverlässig",
    "оплата через WebMoney, продление договорились заранее", "владелец просил не менять анкор до конца года",
    "Link auf der Startseite, später ins Archiv verschoben", "связаться по ICQ вечером, днём не отвечает",
};

struct Project
{
    std::string_view name;
    std::string_view domain;
};

// The common projects first: the pick is skewed towards the front.
constexpr std::array<Project, 36> kProjects = {{
    {"Travel", "cheap-travel-deals.com"},
    {"Garden", "greenthumb-garden.com"},
    {"Coffee shop", "bean-and-brew.com"},
    {"Hotels", "hotel-finder-pro.net"},
    {"Car parts", "autoparts-direct.com"},
    {"Wedding", "dream-wedding-day.com"},
    {"Pets", "happy-paws-store.com"},
    {"Fishing", "catch-of-the-day.org"},
    {"Recipes", "grandmas-recipes.net"},
    {"Yoga", "yoga-at-home.info"},
    {"Loans", "fair-loan-compare.com"},
    {"Insurance", "insure-smart.net"},
    {"Furniture", "oak-and-pine.com"},
    {"Kids toys", "toybox-world.com"},
    {"Bikes", "ride-more-bikes.com"},
    {"Photo", "lens-and-light.net"},
    {"Music school", "learn-guitar-fast.com"},
    {"Dating", "meet-nice-people.net"},
    {"Jobs", "next-career-step.com"},
    {"Books", "old-paper-books.org"},
    {"Games", "free-flash-arcade.com"},
    {"Diet", "slim-and-fit.info"},
    {"Web design", "pixel-perfect-studio.com"},
    {"Real estate", "house-hunt-now.com"},
    {"Poker", "royal-flush-club.net"},
    {"Movies", "cinema-night-reviews.com"},
    {"Art prints", "wall-art-gallery.com"},
    {"Health", "natural-health-tips.org"},
    {"Crypto", "coin-watch-daily.com"},
    {"Flowers", "fresh-flower-box.com"},
    {"Jewellery", "silver-and-stone.net"},
    {"Tea", "leaf-and-cup.com"},
    {"Hosting", "cheap-vps-hosting.net"},
    {"Camping", "tent-and-trail.com"},
    {"Gärtnerei Müller", "gaertnerei-mueller.de"},
    {"Цветы Москва", "cvety-moskva.ru"},
}};

struct Name
{
    std::string_view display;
    std::string_view ascii; // for e-mail addresses
};

constexpr std::array<Name, 24> kFirstNames = {{
    {"John", "john"},     {"Mary", "mary"},     {"David", "david"}, {"Susan", "susan"}, {"Michael", "michael"},
    {"Linda", "linda"},   {"Robert", "robert"}, {"Karen", "karen"}, {"James", "james"}, {"Emily", "emily"},
    {"Daniel", "daniel"}, {"Laura", "laura"},   {"Peter", "peter"}, {"Anna", "anna"},   {"Thomas", "thomas"},
    {"Sarah", "sarah"},   {"Mark", "mark"},     {"Julia", "julia"}, {"Paul", "paul"},   {"Kevin", "kevin"},
    {"Chris", "chris"},   {"Nancy", "nancy"},   {"Brian", "brian"}, {"Helen", "helen"},
}};

constexpr std::array<Name, 24> kLastNames = {{
    {"Smith", "smith"},   {"Johnson", "johnson"},   {"Brown", "brown"},   {"Taylor", "taylor"},
    {"Miller", "miller"}, {"Wilson", "wilson"},     {"Moore", "moore"},   {"Anderson", "anderson"},
    {"Thomas", "thomas"}, {"Jackson", "jackson"},   {"White", "white"},   {"Harris", "harris"},
    {"Martin", "martin"}, {"Thompson", "thompson"}, {"Garcia", "garcia"}, {"Clark", "clark"},
    {"Lewis", "lewis"},   {"Walker", "walker"},     {"Hall", "hall"},     {"Young", "young"},
    {"King", "king"},     {"Wright", "wright"},     {"Scott", "scott"},   {"Green", "green"},
}};

constexpr std::array<Name, 12> kForeignNames = {{
    {"Jürgen Müller", "juergen.mueller"},
    {"Björn Schäfer", "bjoern.schaefer"},
    {"Uwe Größer", "uwe.groesser"},
    {"Käthe Weiß", "kaethe.weiss"},
    {"Jörg Köhler", "joerg.koehler"},
    {"Sören Bäcker", "soeren.baecker"},
    {"Иван Петров", "ivan.petrov"},
    {"Ольга Смирнова", "olga.smirnova"},
    {"Дмитрий Кузнецов", "dmitry.kuznetsov"},
    {"Наталья Иванова", "natalya.ivanova"},
    {"Сергей Волков", "sergey.volkov"},
    {"Анна Соколова", "anna.sokolova"},
}};

constexpr std::array<std::string_view, 10> kOrganizationSuffixes = {
    " Media", " Web Studio", " Ltd", " GmbH", " Internet Solutions", " & Sons", " Publishing", " SEO", " LLC", " Group",
};

constexpr std::array<std::string_view, 5> kPaymentTypes = {"WebMoney", "PayPal", "Wire transfer", "Yandex.Money",
                                                           "ePassporte"};

// Whole words until about `target` long, never past `maxLength`.
std::string Phrase(Random& rng, const Words& words, std::size_t minLength, std::size_t maxLength)
{
    const std::size_t target = minLength + rng.Below(maxLength - minLength + 1);
    std::string text;
    while (text.size() < target) {
        const std::string_view word = rng.Pick(words);
        const std::size_t grown = text.size() + (text.empty() ? 0 : 1) + word.size();
        if (grown > maxLength) {
            if (text.size() >= minLength)
                break;
            continue;
        }
        if (!text.empty())
            text += ' ';
        text += word;
    }
    if (!text.empty())
        text[0] = static_cast<char>(text[0] >= 'a' && text[0] <= 'z' ? text[0] - ('a' - 'A') : text[0]);
    return text;
}

// "http://host/" and slug segments, cut to exactly `length` characters.
std::string Url(Random& rng, std::string_view host, std::size_t length)
{
    std::string url = "http://";
    url += host;
    url += '/';
    while (url.size() < length) {
        url += rng.Pick(kUrlWords);
        const std::size_t roll = rng.Below(10);
        url += roll < 6 ? "-" : roll < 9 ? "/" : "_";
    }
    url.resize(length);
    if (url.back() == '-' || url.back() == '_')
        url.back() = rng.Percent(50) ? 's' : '1';
    return url;
}

std::string Digits(Random& rng, int count)
{
    std::string s;
    for (int i = 0; i < count; ++i)
        s += static_cast<char>('0' + rng.Below(10));
    return s;
}

std::vector<std::string> MakeHosts(Random& rng, std::size_t count)
{
    std::vector<std::string> hosts;
    std::unordered_set<std::string> seen;
    hosts.reserve(count);
    while (hosts.size() < count) {
        std::string host;
        const std::size_t prefix = rng.Below(10);
        host += prefix < 7 ? "www." : prefix < 8 ? "blog." : prefix < 9 ? "shop." : "";
        host += rng.Pick(kUrlWords);
        if (rng.Percent(60)) {
            host += '-';
            host += rng.Pick(kUrlWords);
        }
        if (rng.Percent(25))
            host += std::to_string(rng.Between(1, 99));
        host += rng.Pick(kTlds);
        if (seen.insert(host).second)
            hosts.push_back(std::move(host));
    }
    return hosts;
}

std::string HostWithoutWww(const std::string& host)
{
    return host.starts_with("www.") ? host.substr(4) : host;
}

void FillPartner(Random& rng, CPartner& partner, const std::string& host)
{
    std::string display;
    std::string ascii;
    if (rng.Percent(8)) {
        const Name& name = rng.Pick(kForeignNames);
        display = name.display;
        ascii = name.ascii;
    } else {
        const Name& first = rng.Pick(kFirstNames);
        const Name& last = rng.Pick(kLastNames);
        display = std::string(first.display) + " " + std::string(last.display);
        ascii = std::string(first.ascii) + "." + std::string(last.ascii);
    }
    partner.SetName(display);
    const std::string domain = HostWithoutWww(host);
    if (rng.Percent(60)) {
        // "loans-music31.biz" becomes "Loans Music31".
        std::string organization = domain.substr(0, domain.find('.'));
        for (std::size_t i = 0; i < organization.size(); ++i) {
            if (organization[i] == '-')
                organization[i] = ' ';
            else if ((i == 0 || organization[i - 1] == ' ') && organization[i] >= 'a' && organization[i] <= 'z')
                organization[i] = static_cast<char>(organization[i] - ('a' - 'A'));
        }
        partner.SetOrganization(organization + std::string(rng.Pick(kOrganizationSuffixes)));
    }
    partner.SetEmail(rng.Percent(70) ? ascii + "@" + domain : "webmaster@" + domain);
    if (rng.Percent(20))
        partner.SetIcq(Digits(rng, rng.Between(6, 9)));
    if (rng.Percent(65))
        partner.SetPhone("+" + std::to_string(rng.Between(1, 49)) + " " + Digits(rng, 3) + " " + Digits(rng, 3) + "-" +
                         Digits(rng, 4));
    if (rng.Percent(15))
        partner.SetExtra("Skype: " + ascii);
    for (int i = 0; i < 2; ++i) {
        if (i == 1 && !rng.Percent(30))
            break;
        const std::string_view type = rng.Pick(kPaymentTypes);
        partner.SetPaymentType(i, std::string(type));
        if (type == "WebMoney")
            partner.SetPaymentId(i, "Z" + Digits(rng, 12));
        else if (type == "PayPal")
            partner.SetPaymentId(i, partner.GetEmail());
        else if (type == "Wire transfer")
            partner.SetPaymentId(i, "DE" + Digits(rng, 2) + " " + Digits(rng, 4) + " " + Digits(rng, 4) + " " +
                                        Digits(rng, 4) + " " + Digits(rng, 4) + " " + Digits(rng, 2));
        else
            partner.SetPaymentId(i, Digits(rng, 14));
    }
    if (rng.Percent(30))
        partner.SetComments(rng.Percent(6) ? std::string(rng.Pick(kForeignComments))
                                           : Phrase(rng, kCommentWords, 20, 120));
}

uint32_t PickStatus(Random& rng)
{
    const std::size_t roll = rng.Below(100);
    if (roll < 8)
        return StatusNone;
    if (roll < 70)
        return StatusOk;
    if (roll < 75)
        return StatusExpiring;
    if (roll < 83)
        return StatusExpired;
    if (roll < 89)
        return StatusNotPresent;
    if (roll < 92)
        return StatusInvalidText;
    if (roll < 95)
        return StatusNofollow;
    if (roll < 97)
        return StatusRobots;
    return StatusCantOpen;
}

void FillLink(Random& rng, CLink& link, int32_t partnerId, const std::string& host)
{
    link.SetPartnerId(partnerId);
    const Project& project = kProjects[rng.Skewed(kProjects.size())];
    link.SetProject(std::string(project.name));

    // Paid periods of one, three, six or twelve months, renewed a few times since the first payment.
    constexpr std::array<int, 4> kMonths = {1, 3, 6, 12};
    const int months = rng.Pick(kMonths);
    const OleDateTime first = OleDateTime::FromParts(rng.Between(2004, 2024), rng.Between(1, 12), rng.Between(1, 28));
    const OleDateTime last = AddMonths(first, months * rng.Between(0, 24 / months + 1));
    link.SetFirstPaymentDate(first);
    link.SetLastPaymentDate(last);
    link.SetPeriod(AddMonths(last, months) - last);

    const int32_t monthly = rng.Between(2, 120) * 5;
    link.SetCostMode(rng.Percent(70) ? 0 : 1);
    link.SetCostPerMonthValue(monthly);
    link.SetCostPerPeriodValue(monthly * months - (months >= 6 ? monthly : 0));

    link.SetFromPage(Url(rng, host, 40 + rng.Below(51)));
    std::string toHost = rng.Percent(70) ? "www." : "";
    toHost += project.domain;
    link.SetToPage(Url(rng, toHost, std::max<std::size_t>(30 + rng.Below(31), toHost.size() + 12)));
    link.SetAnchor(rng.Percent(3) ? std::string(rng.Pick(kForeignAnchors)) : Phrase(rng, kAnchorWords, 10, 40));

    const uint32_t status = PickStatus(rng);
    link.SetStatus(status);
    const int32_t startingPR = static_cast<int32_t>(rng.Skewed(8));
    link.SetStartingPR(startingPR);
    if (status != StatusNone) {
        const int32_t current = std::clamp(startingPR + rng.Between(-2, 1), 0, 10);
        link.SetCurrentPR(current);
        link.SetPreviousPR(rng.Percent(85) ? current : std::clamp(current + rng.Between(-1, 1), 0, 10));
        link.SetExternalLinks(rng.Between(3, 180));
    }
    if (rng.Percent(22))
        link.SetComment(rng.Percent(5) ? std::string(rng.Pick(kForeignComments)) : Phrase(rng, kCommentWords, 20, 120));
}

} // namespace

void FillSampleDatabase(CORXDatabase& db, const SampleDatabaseShape& shape)
{
    Random rng(shape.seed);
    CPartnersManager& partners = *db.GetPartners();
    CLinksManager& links = *db.GetLinks();

    // One site per partner; a partner's links all come from its own site.
    const std::vector<std::string> hosts = MakeHosts(rng, std::max<std::size_t>(shape.partners, 1));
    std::vector<int32_t> owners;
    owners.reserve(hosts.size());
    for (std::size_t i = 0; i < shape.partners; ++i) {
        CPartner* partner = partners.AddPartner({});
        FillPartner(rng, *partner, hosts[i]);
        owners.push_back(partner->GetId());
    }

    for (std::size_t i = 0; i < shape.links; ++i) {
        // A few big partners sell most of the links.
        const std::size_t site = rng.Percent(40) ? rng.Skewed(hosts.size()) : rng.Below(hosts.size());
        const int32_t partnerId = owners.empty() ? -1 : owners[site];
        FillLink(rng, *links.AddNewLink(), partnerId, hosts[site]);
    }
}

bool WriteSampleDatabase(const std::string& path, const SampleDatabaseShape& shape)
{
    CORXDatabase db;
    FillSampleDatabase(db, shape);
    return db.Save(path);
}
