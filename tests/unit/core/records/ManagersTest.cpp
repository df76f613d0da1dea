#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

CLink* AddLink(CLinksManager& links, std::string project, std::string anchor = {}, std::string toPage = {},
               uint32_t status = 0)
{
    CLink* link = links.AddNewLink();
    link->SetProject(std::move(project));
    link->SetAnchor(std::move(anchor));
    link->SetToPage(std::move(toPage));
    link->SetStatus(status);
    return link;
}

std::unique_ptr<CPartner> PartnerWithId(int32_t id, std::string name = "p")
{
    auto partner = std::make_unique<CPartner>(std::move(name));
    partner->SetId(id);
    return partner;
}

} // namespace

TEST(LinksManagerLists, ProjectsInFirstSeenOrderWithoutEmpty)
{
    CLinksManager links;
    for (const char* project : {"b", "", "a", "b"})
        AddLink(links, project);
    EXPECT_EQ((Texts{"b", "a"}), links.GetProjects());
}

TEST(LinksManagerLists, EmptyValuesOccurOnceAndCaseMatters)
{
    CLinksManager links;
    AddLink(links, "p", "", "http://x/");
    AddLink(links, "p", "Widgets", "");
    AddLink(links, "p", "", "http://x/");
    AddLink(links, "p", "widgets", "");
    AddLink(links, "other", "elsewhere", "http://y/");
    EXPECT_EQ((Texts{"", "Widgets", "widgets"}), links.GetAnchors("p"));
    EXPECT_EQ((Texts{"elsewhere"}), links.GetAnchors("other"));
    EXPECT_EQ(Texts{}, links.GetAnchors("P"));
    EXPECT_EQ((Texts{"http://x/", "", "http://y/"}), links.GetToPages());
}

// A link never checked is listed by what its dates warn of, never as Ok: the filter shows the rows
// whose colour it names.
TEST(LinksManagerFilter, ProjectThenStatusMask)
{
    CLinksManager links;
    const CLink* ok = AddLink(links, "Shop", "", "", StatusOk);
    const CLink* expired = AddLink(links, "Shop", "", "", StatusExpired);
    CLink* unchecked = AddLink(links, "Shop");
    const CLink* otherCase = AddLink(links, "shop", "", "", StatusOk);
    CLink* uncheckedExpiring = AddLink(links, "Shop");
    CLink* uncheckedExpired = AddLink(links, "Shop");
    const OleDateTime now = OleDateTime::FromParts(2011, 6, 1);
    for (auto [link, daysAgo] : {std::pair{unchecked, 1.0}, {uncheckedExpiring, 25.0}, {uncheckedExpired, 40.0}}) {
        link->SetLastPaymentDate(now - OleDateTimeSpan(daysAgo));
        link->SetPeriod(OleDateTimeSpan(31.0)); // one month
    }
    const auto matches = [&](const CLink* link) { return links.Matches(*link, 7, now); };

    EXPECT_TRUE(matches(unchecked)); // no filter at all

    links.SetProjectFilter("Shop");
    EXPECT_TRUE(matches(ok));
    EXPECT_FALSE(matches(otherCase));

    links.SetStatusFilter(StatusFilterFromName("(All Problematic)"));
    EXPECT_TRUE(matches(expired));
    EXPECT_FALSE(matches(ok));
    EXPECT_FALSE(matches(unchecked));
    EXPECT_FALSE(matches(uncheckedExpiring));
    EXPECT_TRUE(matches(uncheckedExpired));

    links.SetStatusFilter(StatusFilterFromName("(All Expiring)"));
    EXPECT_TRUE(matches(uncheckedExpiring));
    EXPECT_FALSE(matches(uncheckedExpired));

    links.SetStatusFilter(StatusFilterFromName("(All Ok)"));
    EXPECT_TRUE(matches(ok));
    EXPECT_FALSE(matches(unchecked));

    links.SetProjectFilter("");
    links.SetStatusFilter(StatusOk);
    EXPECT_TRUE(matches(otherCase));
}

TEST(LinksManagerOwnership, RemoveIgnoresForeignAndNullLinks)
{
    CLinksManager links;
    CLinksManager other;
    CLink* mine = AddLink(links, "a");
    AddLink(links, "b");
    const CLink* foreign = AddLink(other, "a");
    const CLink outside;

    links.RemoveLink(foreign);
    links.RemoveLink(&outside);
    links.RemoveLink(nullptr);
    EXPECT_EQ(2u, links.GetCount());
    EXPECT_EQ(1u, other.GetCount());

    links.RemoveLink(mine);
    ASSERT_EQ(1u, links.GetCount());
    EXPECT_EQ("b", links.GetLinks().front()->GetProject());
}

TEST(LinksManagerOwnership, CopiesAreIndependentAndAppended)
{
    CLinksManager links;
    CLink* original = AddLink(links, "a", "", "", StatusOk);
    original->SetPartnerId(7);
    EXPECT_EQ(2u, links.AddLinkCopy(*original));

    const auto all = links.GetLinks();
    ASSERT_EQ(2u, all.size());
    EXPECT_NE(all[0], all[1]);
    EXPECT_EQ(7, all[1]->GetPartnerId());
    EXPECT_EQ(uint32_t{StatusOk}, all[1]->GetStatus());
    original->SetProject("changed");
    EXPECT_EQ("a", all[1]->GetProject());
}

TEST(LinksManagerOwnership, CopyAllFromItselfDoublesOnce)
{
    CLinksManager links;
    AddLink(links, "a");
    AddLink(links, "b");
    EXPECT_EQ(4u, links.CopyAllFrom(links));
    std::vector<std::string> projects;
    for (const CLink* link : links.GetLinks())
        projects.push_back(link->GetProject());
    EXPECT_EQ((Texts{"a", "b", "a", "b"}), projects);
}

TEST(PartnersManagerIds, CounterFromTheFileIsUsedAndAdvanced)
{
    CPartnersManager partners;
    partners.SetNextPartnerId(12);
    const CPartner* partner = partners.AddPartner("Acme");
    EXPECT_EQ(12, partner->GetId());
    EXPECT_EQ(13, partners.GetNextPartnerId());
    EXPECT_EQ("Acme", partner->GetName());
    EXPECT_EQ("", partner->GetEmail());
    EXPECT_EQ(13, partners.AddPartner("Next")->GetId());
}

TEST(PartnersManagerIds, NeverHandsOutAnIdInUse)
{
    CPartnersManager partners;
    partners.Append(PartnerWithId(3));
    partners.Append(PartnerWithId(4));
    partners.SetNextPartnerId(3); // a counter that fell behind, as in a damaged file
    EXPECT_EQ(5, partners.AddPartner("new")->GetId());
    EXPECT_EQ(6, partners.GetNextPartnerId());
}

TEST(PartnersManagerIds, NeverHandsOutTheNoPartnerId)
{
    CPartnersManager partners;
    partners.SetNextPartnerId(-1);
    const CPartner* partner = partners.AddPartner("new");
    EXPECT_NE(-1, partner->GetId());
    EXPECT_EQ(partner, partners.FindById(partner->GetId()));
}

TEST(PartnersManagerLookup, FindByIdAndName)
{
    CPartnersManager partners;
    partners.Append(PartnerWithId(-1, "nobody"));
    const CPartner* first = partners.AddPartner("ACME Corp");
    const CPartner* second = partners.AddPartner("acme corp");

    EXPECT_EQ(nullptr, partners.FindById(-1));
    EXPECT_EQ(nullptr, partners.FindById(42));
    EXPECT_EQ(second, partners.FindById(second->GetId()));
    EXPECT_EQ(first, partners.FindByName("acme corp"));
    EXPECT_EQ(nullptr, partners.FindByName("acme"));
}

TEST(PartnersManagerLookup, RemoveIgnoresForeignPartners)
{
    CPartnersManager partners;
    CPartner* kept = partners.AddPartner("a");
    CPartner* removed = partners.AddPartner("b");
    const CPartner outside("a");
    partners.RemovePartner(&outside);
    partners.RemovePartner(nullptr);
    partners.RemovePartner(removed);
    EXPECT_EQ(std::vector<CPartner*>{kept}, partners.GetPartners());
    EXPECT_EQ(nullptr, partners.FindByName("b"));
}

TEST(PartnerPayments, OnlyIndexZeroAndOne)
{
    CPartner partner("x");
    partner.SetPaymentType(0, "WebMoney");
    partner.SetPaymentId(0, "Z123");
    partner.SetPaymentType(1, "PayPal");
    partner.SetPaymentId(1, "me@example.com");
    partner.SetPaymentType(2, "lost");
    partner.SetPaymentId(-1, "lost");

    EXPECT_EQ("WebMoney", partner.GetPaymentType(0));
    EXPECT_EQ("Z123", partner.GetPaymentId(0));
    EXPECT_EQ("PayPal", partner.GetPaymentType(1));
    EXPECT_EQ("me@example.com", partner.GetPaymentId(1));
    EXPECT_EQ("", partner.GetPaymentType(2));
    EXPECT_EQ("", partner.GetPaymentId(-1));
}
