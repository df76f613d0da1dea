// Writes the sample database: a small webmaster's year of link deals, with every status the list
// can show. The same day always gives the same file, byte for byte.
//
//     orvex-make-sample OUTPUT.orx [--today YYYY-MM-DD]
#include "core/records/LinkStatus.h"
#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"
#include "core/storage/ORXDatabase.h"

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

// The day the sample pretends to have been checked on. Fixed, so that the committed file does not
// change with every run; pass --today to make one that is current.
constexpr int kDefaultYear = 2026;
constexpr int kDefaultMonth = 12;
constexpr int kDefaultDay = 1;
constexpr int kWarningDays = 7; // the settings' default

struct PartnerRow
{
    const char* name;
    const char* organization;
    const char* email;
    const char* icq;
    const char* phone;
    const char* paymentType0;
    const char* paymentId0;
    const char* paymentType1;
    const char* paymentId1;
    const char* comments;
};

const PartnerRow kPartners[] = {
    {"Jürgen Weiß", "Weiß Gartenmedien GmbH", "j.weiss@gartenmedien.example", "", "+49 30 5550 1234", "PayPal",
     "j.weiss@gartenmedien.example", "Wire transfer", "DE89 3704 0044 0532 0130 00",
     "Invoices at the start of each quarter."},
    {"Maria Santos", "Santos Digital", "maria@lisbon-eats.example", "", "+351 21 555 0188", "PayPal",
     "payments@santos-digital.example", "", "", "Prefers e-mail, answers within a day."},
    {"Ирина Соколова", "Ромашка Медиа", "irina@romashka-media.example", "123456789", "+7 495 555-01-77", "WebMoney",
     "Z123456789012", "", "", "Скидка 10% при оплате за полгода."},
    {"Tom Becker", "", "tom@outdoor-gear-reviews.example", "", "", "PayPal", "tom@outdoor-gear-reviews.example", "", "",
     "Link exchange, no money involved for the blog links."},
    {"Zoë Lefèvre", "Lefèvre & Fils", "zoe@paris-gourmand.example", "", "+33 1 55 50 42 42", "Wire transfer",
     "FR76 3000 6000 0112 3456 7890 189", "PayPal", "compta@lefevre-fils.example", ""},
    {"Søren Ågård", "Nordlys Web ApS", "soren@nordlys-web.example", "", "+45 55 50 12 34", "Payoneer", "SAG-20931", "",
     "", "Moved the forum to a new host in spring."},
    {"Priya Nair", "BrightPixel Studio", "priya@brightpixel.example", "", "+91 80 5550 9911", "PayPal",
     "billing@brightpixel.example", "Wire transfer", "IN-HDFC-0099-1182", "Design blog, strict about anchors."},
    {"Kenji Watanabe", "", "kenji@runlog.example", "", "", "Wise", "kenji.w", "", "", ""},
};

// Either a status found by a check that could not confirm the link, or one of these markers.
constexpr uint32_t kFromDates = 0xFFFF'FFFF; // found with the right text: Ok, Expiring or Expired by the dates
constexpr uint32_t kNeverChecked = StatusNone;

struct LinkRow
{
    int partner; // index into kPartners, -1 for none
    const char* project;
    const char* fromPage;
    const char* toPage;
    const char* anchor;
    int lastPaymentDaysAgo;
    int months;
    int earlierPeriods; // periods paid before the current one
    int costMode;       // 0 = price per month, 1 = full cost of the period
    int32_t price;
    int32_t startingPR;
    int32_t currentPR; // -1 = not known
    int32_t previousPR;
    uint32_t verdict;
    int32_t externalLinks;
    const char* comment;
};

const char* const kGreen = "GreenThumb Tools";
const char* const kCafe = "Café Lumière";
const char* const kTrail = "TrailRunner Blog";
const char* const kPixel = "PixelForge";

// Days ago for each date state, chosen so that the default day gives what the comment says and
// nearby days mostly do too.
constexpr int kRecent = 30;   // 6 months: well inside the period
constexpr int kNearEnd = 87;  // 3 months: expiry a few days ahead, inside the warning period
constexpr int kLongAgo = 200; // 6 months: expired a couple of weeks ago

const LinkRow kLinks[] = {
    {0, kGreen, "http://www.gartenmedien.example/werkzeug/partner.html", "https://www.greenthumb-tools.example/",
     "garden tools", kRecent, 6, 2, 0, 25, 4, 4, 4, kFromDates, 12, "Sidebar, every page of the section."},
    {0, kGreen, "http://www.gartenmedien.example/ratgeber/rosen-schneiden.html",
     "https://www.greenthumb-tools.example/pruning-shears/", "pruning shears", kRecent, 6, 0, 1, 120, 3, 3, 3,
     kFromDates, 27, "In the article text."},
    {0, kGreen, "http://gartenmedien.example/links/", "https://www.greenthumb-tools.example/", "*", kNearEnd, 3, 1, 0,
     15, 2, 2, 2, kFromDates, 64, ""},
    {0, kGreen, "http://www.gartenmedien.example/forum/", "https://www.greenthumb-tools.example/",
     "Gartengeräte kaufen", kLongAgo, 6, 0, 1, 90, 3, 3, 3, kFromDates, 41, "Did not renew: traffic too low."},
    {0, kCafe, "http://www.gartenmedien.example/rezepte/kraeuter.html", "https://cafe-lumiere.example/", "Café Lumière",
     kRecent, 12, 0, 1, 200, 3, 2, 3, kFromDates, 18, "PR dropped after their redesign."},
    {1, kCafe, "https://lisbon-eats.example/best-coffee/", "https://cafe-lumiere.example/", "best coffee in town",
     kRecent, 6, 1, 0, 30, 4, 4, 4, kFromDates, 9, ""},
    {1, kCafe, "https://lisbon-eats.example/brunch-guide/", "https://cafe-lumiere.example/menu.html", "brunch menu",
     kNearEnd, 3, 2, 0, 20, 3, 3, 3, kFromDates, 15, "Ask for a discount on renewal."},
    {1, kCafe, "https://lisbon-eats.example/partners.html", "https://cafe-lumiere.example/", "Café Lumière", kRecent, 6,
     0, 0, 15, 3, 3, 3, StatusNofollow, 88, "They added rel=\"sponsored\" in October."},
    {1, kPixel, "https://lisbon-eats.example/web-design/", "https://pixelforge.example/", "web design studio", kRecent,
     6, 0, 1, 150, 2, 2, 2, StatusInvalidText, 22, "Anchor reads \"PixelForge\" instead."},
    {1, kTrail, "https://lisbon-eats.example/outdoors/", "http://trailrunner.example/", "trail running tips", kLongAgo,
     6, 1, 0, 12, 2, 1, 1, kFromDates, 31, ""},
    {2, kPixel, "http://romashka-media.example/blog/dizain/", "https://pixelforge.example/icons/", "наборы иконок",
     kRecent, 6, 0, 1, 180, 3, 3, 3, kFromDates, 19, "Ссылка в тексте статьи."},
    {2, kPixel, "http://romashka-media.example/katalog/", "https://pixelforge.example/", "PixelForge", kRecent, 6, 1, 0,
     20, 4, 3, 4, StatusRobots, 140, "Catalogue closed to robots since the summer."},
    {2, kGreen, "http://romashka-media.example/sad/instrumenty.html", "https://www.greenthumb-tools.example/",
     "садовый инструмент", kNearEnd, 3, 0, 1, 45, 2, 2, 2, kFromDates, 25, ""},
    {2, kCafe, "http://romashka-media.example/eda/", "https://cafe-lumiere.example/", "*", kRecent, 6, 0, 0, 10, 1, -1,
     -1, StatusCantOpen, 0, "Host down at the last two checks."},
    {2, kTrail, "http://romashka-media.example/sport/beg.html", "http://trailrunner.example/shoes/",
     "кроссовки для трейла", kLongAgo, 6, 0, 0, 18, 3, 3, 3, StatusNotPresent, 36, "Page rewritten, link gone."},
    {3, kTrail, "http://outdoor-gear-reviews.example/blogroll/", "http://trailrunner.example/", "TrailRunner", kRecent,
     12, 1, 1, 0, 3, 3, 3, kFromDates, 57, "Exchange: we link back from /friends."},
    {3, kTrail, "http://outdoor-gear-reviews.example/shoes/2026-roundup.html", "http://trailrunner.example/shoes/",
     "trail shoes", kRecent, 12, 0, 1, 0, 4, 5, 4, kFromDates, 24, "Exchange."},
    {3, kTrail, "http://outdoor-gear-reviews.example/gps-watches/", "trailrunner.example/*", "*", kRecent, 12, 0, 1, 0,
     3, 3, 3, StatusNofollow, 30, "Whole site went nofollow (meta robots)."},
    {3, kGreen, "http://outdoor-gear-reviews.example/camping/", "https://www.greenthumb-tools.example/", "folding saw",
     kNearEnd, 3, 0, 0, 10, 2, 2, 2, StatusInvalidText, 44, ""},
    {4, kCafe, "https://www.paris-gourmand.example/cafes/", "https://cafe-lumiere.example/", "café à Lisbonne", kRecent,
     6, 2, 0, 40, 5, 5, 5, kFromDates, 16, "Best placement we have."},
    {4, kCafe, "https://www.paris-gourmand.example/petit-dejeuner/", "https://cafe-lumiere.example/menu.html",
     "petit-déjeuner", kNearEnd, 3, 1, 1, 90, 4, 4, 4, kFromDates, 21, ""},
    {4, kCafe, "https://www.paris-gourmand.example/annuaire/", "https://cafe-lumiere.example/", "Café Lumière",
     kLongAgo, 6, 0, 1, 150, 4, 4, 4, StatusNotPresent, 210, "Directory page, link dropped in a cleanup."},
    {4, kPixel, "https://www.paris-gourmand.example/credits.html", "https://pixelforge.example/", "*", kRecent, 6, 0, 0,
     25, 3, 3, 2, kFromDates, 5, "PR went up."},
    {5, kPixel, "https://nordlys-web.example/resources/", "https://pixelforge.example/icons/", "free icon sets",
     kRecent, 6, 0, 0, 35, 4, 4, 4, kFromDates, 48, ""},
    {5, kPixel, "https://forum.nordlys-web.example/sig/", "https://pixelforge.example/", "PixelForge", kRecent, 6, 0, 0,
     8, 2, 2, 2, StatusCantOpen, 11, "Forum moved; old address answers 404."},
    {5, kGreen, "https://nordlys-web.example/have/vaerktoej.html", "https://www.greenthumb-tools.example/",
     "haveredskaber", kLongAgo, 6, 1, 1, 120, 3, 3, 3, kFromDates, 20, "Renew? Søren offered the same price."},
    {5, kTrail, "https://nordlys-web.example/loeb/", "http://trailrunner.example/", "trail running", kRecent, 6, 0, 0,
     14, 2, 2, 2, StatusRobots, 17, ""},
    {6, kPixel, "https://brightpixel.example/blog/icon-design/", "https://pixelforge.example/icons/", "icon design",
     kRecent, 12, 0, 1, 480, 5, 5, 5, kFromDates, 13, "Yearly deal, paid in advance."},
    {6, kPixel, "https://brightpixel.example/tools/", "https://pixelforge.example/", "pixel art editor", kNearEnd, 3, 2,
     0, 45, 4, 4, 4, kFromDates, 26, ""},
    {6, kPixel, "https://brightpixel.example/portfolio/clients.html", "https://pixelforge.example/", "PixelForge",
     kRecent, 6, 0, 0, 30, 4, 3, 4, StatusInvalidText, 9, "They wrote \"Pixel Forge\" with a blank."},
    {6, kCafe, "https://brightpixel.example/case-studies/cafe/", "https://cafe-lumiere.example/", "*", kRecent, 6, 0, 1,
     60, 3, 3, 3, kFromDates, 7, ""},
    {7, kTrail, "http://runlog.example/2026/10/ultra-report.html", "http://trailrunner.example/", "TrailRunner Blog",
     kRecent, 6, 0, 0, 10, 1, 2, 1, kFromDates, 33, ""},
    {7, kTrail, "http://runlog.example/gear/", "http://trailrunner.example/shoes/", "running shoes", kLongAgo, 6, 0, 1,
     50, 2, 2, 2, kFromDates, 28, "Kenji asked to renew in January."},
    {7, kTrail, "http://runlog.example/links/", "http://trailrunner.example/", "*", kRecent, 6, 0, 0, 5, 1, 1, 1,
     StatusNotPresent, 95, ""},
    {-1, kTrail, "http://www.trailrunner-friends.example/", "http://trailrunner.example/", "TrailRunner", kRecent, 12,
     0, 1, 0, 2, 2, 2, kFromDates, 6, "Old friend's site, no partner record."},
    {-1, kGreen, "https://allotment-diary.example/suppliers/", "https://www.greenthumb-tools.example/",
     "GreenThumb Tools", kRecent, 6, 0, 0, 0, 1, 1, 1, StatusNofollow, 14, "Free mention."},
    // Entered last week and not checked yet.
    {0, kGreen, "http://www.gartenmedien.example/newsletter/archiv.html",
     "https://www.greenthumb-tools.example/pruning-shears/", "Rosenschere", 5, 6, 0, 0, 20, 3, -1, -1, kNeverChecked, 0,
     ""},
    {4, kCafe, "https://www.paris-gourmand.example/nouveautes/", "https://cafe-lumiere.example/", "Café Lumière", 3, 6,
     0, 1, 110, 4, -1, -1, kNeverChecked, 0, "Goes live on Monday."},
    {6, kPixel, "https://brightpixel.example/newsletter/", "https://pixelforge.example/", "PixelForge", 2, 3, 0, 0, 30,
     3, -1, -1, kNeverChecked, 0, ""},
    {7, kTrail, "http://runlog.example/2026/11/winter-training.html", "http://trailrunner.example/",
     "winter trail running", 6, 6, 0, 0, 10, 1, -1, -1, kNeverChecked, 0, ""},
};

bool ParseDay(const std::string& text, OleDateTime& day)
{
    int year = 0, month = 0, dayOfMonth = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &dayOfMonth, &tail) != 3)
        return false;
    day = OleDateTime::FromParts(year, month, dayOfMonth);
    return day.IsValid();
}

OleDateTime DaysBefore(const OleDateTime& day, int days)
{
    return day - OleDateTimeSpan(static_cast<double>(days));
}

OleDateTime MonthsBefore(const OleDateTime& day, int months)
{
    const DateParts parts = day.GetParts();
    const int index = parts.year * 12 + (parts.month - 1) - months;
    // The same day of month where the month has it, else its last day.
    for (int dayOfMonth = parts.day; dayOfMonth > 0; --dayOfMonth) {
        const OleDateTime date = OleDateTime::FromParts(index / 12, index % 12 + 1, dayOfMonth);
        if (date.IsValid())
            return date;
    }
    return day;
}

// The period as the link dialog stores it: the days from the start to the same day that many
// months later.
OleDateTimeSpan PeriodOfMonths(const OleDateTime& start, int months)
{
    return AddMonths(start, months) - start;
}

void AddLink(CLinksManager& links, const std::vector<CPartner*>& partners, const LinkRow& row, const OleDateTime& today)
{
    CLink* link = links.AddNewLink();
    link->SetPartnerId(row.partner < 0 ? -1 : partners[static_cast<std::size_t>(row.partner)]->GetId());
    link->SetProject(row.project);
    link->SetFromPage(row.fromPage);
    link->SetToPage(row.toPage);
    link->SetAnchor(row.anchor);
    link->SetComment(row.comment);

    const OleDateTime last = DaysBefore(today, row.lastPaymentDaysAgo);
    const OleDateTime first = MonthsBefore(last, row.months * row.earlierPeriods);
    link->SetFirstPaymentDate(first);
    link->SetLastPaymentDate(last);
    link->SetPeriod(PeriodOfMonths(last, row.months));

    // Both prices are kept as the dialog keeps them; the mode says which one the user typed.
    link->SetCostMode(row.costMode);
    if (row.costMode == 0) {
        link->SetCostPerMonthValue(row.price);
        link->SetCostPerPeriodValue(row.price * row.months);
    } else {
        link->SetCostPerPeriodValue(row.price);
        link->SetCostPerMonthValue(row.months > 0 ? row.price / row.months : row.price);
    }

    link->SetStartingPR(row.startingPR);
    if (row.verdict == kNeverChecked)
        return;
    link->SetCurrentPR(row.currentPR);
    link->SetPreviousPR(row.previousPR);
    link->SetExternalLinks(row.externalLinks);
    if (row.verdict != kFromDates) {
        link->SetStatus(row.verdict);
        return;
    }
    // Checked at noon of the sample's day, as the weekly run would have.
    const OleDateTime checkedAt = today + OleDateTimeSpan(0.5);
    if (link->IsExpired(checkedAt))
        link->SetStatus(StatusExpired);
    else if (link->IsExpiring(kWarningDays, checkedAt))
        link->SetStatus(StatusExpiring);
    else
        link->SetStatus(StatusOk);
}

} // namespace

int main(int argc, char** argv)
{
    std::string output;
    OleDateTime today = OleDateTime::FromParts(kDefaultYear, kDefaultMonth, kDefaultDay);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--today" && i + 1 < argc) {
            if (!ParseDay(argv[++i], today)) {
                std::fprintf(stderr, "orvex-make-sample: not a day: %s (want YYYY-MM-DD)\n", argv[i]);
                return 2;
            }
        } else if (output.empty() && !arg.starts_with("-")) {
            output = arg;
        } else {
            std::fprintf(stderr, "usage: orvex-make-sample OUTPUT.orx [--today YYYY-MM-DD]\n");
            return 2;
        }
    }
    if (output.empty()) {
        std::fprintf(stderr, "usage: orvex-make-sample OUTPUT.orx [--today YYYY-MM-DD]\n");
        return 2;
    }

    CORXDatabase database;
    std::vector<CPartner*> partners;
    for (const PartnerRow& row : kPartners) {
        CPartner* partner = database.GetPartners()->AddPartner(row.name);
        partner->SetOrganization(row.organization);
        partner->SetEmail(row.email);
        partner->SetIcq(row.icq);
        partner->SetPhone(row.phone);
        partner->SetPaymentType(0, row.paymentType0);
        partner->SetPaymentId(0, row.paymentId0);
        partner->SetPaymentType(1, row.paymentType1);
        partner->SetPaymentId(1, row.paymentId1);
        partner->SetComments(row.comments);
        partners.push_back(partner);
    }
    for (const LinkRow& row : kLinks)
        AddLink(*database.GetLinks(), partners, row, today);

    // A sample that lacks a status would not show what the list can show: refuse to write it.
    std::set<uint32_t> statuses;
    for (const CLink* link : database.GetLinks()->GetLinks())
        statuses.insert(link->GetStatus());
    for (uint32_t status = StatusOk; status <= StatusCantOpen; status <<= 1) {
        if (!statuses.contains(status)) {
            std::fprintf(stderr, "orvex-make-sample: no link has the status \"%s\" on that day\n",
                         GetStatusName(status).c_str());
            return 1;
        }
    }

    if (!database.Save(output)) {
        std::fprintf(stderr, "orvex-make-sample: %s\n", database.GetLastError().c_str());
        return 1;
    }
    std::printf("%s: %zu partners, %zu links\n", output.c_str(), database.GetPartners()->GetCount(),
                database.GetLinks()->GetCount());
    return 0;
}
