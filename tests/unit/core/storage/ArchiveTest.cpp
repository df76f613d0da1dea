#include "unit/TestSupport.h"

#include "core/records/Link.h"
#include "core/records/Partner.h"
#include "core/storage/Archive.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace testsupport;

namespace {

std::string Store(const std::function<void(CArchive&)>& body)
{
    std::string out;
    CArchive ar = CArchive::ForStoring(
        [&out](const uint8_t* data, std::size_t size) { out.append(reinterpret_cast<const char*>(data), size); });
    body(ar);
    ar.Flush();
    return out;
}

std::string StoreText(std::string text)
{
    return Store([&](CArchive& ar) { ar.Io(text); });
}

std::string LoadText(const std::string& bytes)
{
    CArchive ar = CArchive::ForLoading(bytes);
    std::string text = "not read";
    ar.Io(text);
    EXPECT_EQ(ar.Remaining(), 0u) << "the text must use up exactly its own bytes";
    return text;
}

} // namespace

TEST(ArchiveText, LengthPrefixSwitchesFormAtEachBoundary)
{
    struct Case
    {
        std::size_t length;
        std::string prefix;
    };
    const Case cases[] = {
        {0, Bytes().U8(0).Str()},
        {254, Bytes().U8(0xFE).Str()},
        {255, Bytes().U8(0xFF).U16(255).Str()},
        {0xFFFD, Bytes().U8(0xFF).U16(0xFFFD).Str()},
        // 0xFFFE itself would read as the UTF-16 marker, so it takes the dword form.
        {0xFFFE, Bytes().U8(0xFF).U16(0xFFFF).U32(0xFFFE).Str()},
        {70000, Bytes().U8(0xFF).U16(0xFFFF).U32(70000).Str()},
    };
    for (const Case& c : cases) {
        const std::string text(c.length, 'x');
        const std::string bytes = StoreText(text);
        ASSERT_EQ(bytes.size(), c.prefix.size() + c.length) << "length " << c.length;
        EXPECT_EQ(Hex(bytes.substr(0, c.prefix.size())), Hex(c.prefix)) << "length " << c.length;
        EXPECT_EQ(LoadText(bytes), text) << "length " << c.length;
    }
}

TEST(ArchiveText, ReadsEveryLengthFormEvenWhenLongerThanNeeded)
{
    EXPECT_EQ(LoadText(Bytes().U8(3).Raw("abc").Str()), "abc");
    EXPECT_EQ(LoadText(Bytes().U8(0xFF).U16(3).Raw("abc").Str()), "abc");
    EXPECT_EQ(LoadText(Bytes().U8(0xFF).U16(0xFFFF).U32(3).Raw("abc").Str()), "abc");
    EXPECT_EQ(LoadText(Bytes().U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U64(3).Raw("abc").Str()), "abc");
}

TEST(ArchiveText, ReadsUtf16Form)
{
    // "Grüße €" as UTF-16LE behind FF FE FF and a one-byte length.
    const std::u16string units = u"Grüße €";
    Bytes b;
    b.U8(0xFF).U16(0xFFFE).U8(static_cast<uint8_t>(units.size()));
    for (char16_t u : units)
        b.U16(u);
    EXPECT_EQ(LoadText(b.Str()), "Grüße €");

    // The length after the marker follows the usual rules, here the word form.
    Bytes longer;
    longer.U8(0xFF).U16(0xFFFE).U8(0xFF).U16(300);
    for (int i = 0; i < 300; ++i)
        longer.U16(u'\u044F');
    std::string expected;
    for (int i = 0; i < 300; ++i)
        expected += "я";
    EXPECT_EQ(LoadText(longer.Str()), expected);
}

TEST(ArchiveText, NonAsciiIsWrittenAsUtf16AndReadBackEqual)
{
    const std::string text = "Grüße € 🙂";
    const std::string bytes = StoreText(text);
    // 7 BMP characters, a blank and one surrogate pair: 10 code units.
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(Hex(bytes.substr(0, 4)), Hex(Bytes().U8(0xFF).U16(0xFFFE).U8(10).Str()));
    EXPECT_EQ(bytes.size(), 4u + 20u);
    EXPECT_EQ(LoadText(bytes), text);

    // Pure ASCII never takes the wide form.
    EXPECT_EQ(Hex(StoreText("abc")), Hex(Bytes().Text("abc").Str()));
}

TEST(ArchiveText, EightBitTextThatIsNotUtf8ComesFromTheLegacyCodePage)
{
    // Bytes of "Grüße €" in Windows-1252.
    EXPECT_EQ(LoadText(Bytes()
                           .Text("Gr\xFC\xDF"
                                 "e \x80")
                           .Str()),
              "Grüße €");
    // Valid UTF-8 in the 8-bit form is taken as it is.
    EXPECT_EQ(LoadText(Bytes().Text("caf\xC3\xA9").Str()), "café");
    {
        ScopedEnv codePage("ORVEX_CODEPAGE", "CP1251");
        // "Привет" in CP1251.
        EXPECT_EQ(LoadText(Bytes().Text("\xCF\xF0\xE8\xE2\xE5\xF2").Str()), "Привет");
    }
    EXPECT_EQ(LoadText(Bytes().Text("\xCF").Str()), "Ï");
}

TEST(ArchiveText, DamagedLengthsFailWithoutReadingPastTheEnd)
{
    const std::string cases[] = {
        Bytes().U8(5).Raw("abc").Str(),
        Bytes().U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFE).Raw("abc").Str(),
        Bytes().U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U64(uint64_t{1} << 32).Raw("abc").Str(),
        Bytes().U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U64(~uint64_t{0}).Raw("abc").Str(),
        Bytes().U8(0xFF).U16(0xFFFE).U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U64(~uint64_t{0}).Str(),
        Bytes().U8(0xFF).U16(0xFFFE).U8(0xFF).U16(0xFFFF).U32(0x80000000).Raw("abcd").Str(),
        Bytes().U8(0xFF).U16(0xFFFE).U8(3).U16('a').Str(),
        // The UTF-16 marker cannot nest.
        Bytes().U8(0xFF).U16(0xFFFE).U8(0xFF).U16(0xFFFE).U8(1).U16('a').Str(),
        Bytes().U8(0xFF).U8(0x01).Str(),
        Bytes().Str(),
    };
    for (const std::string& bytes : cases) {
        CArchive ar = CArchive::ForLoading(bytes);
        std::string text;
        EXPECT_THROW(ar.Io(text), CArchiveException) << Hex(bytes);
    }
}

TEST(ArchiveObjects, ClassRecordPrecedesFirstObjectAndLaterObjectsUseItsNumber)
{
    CPartner first("a");
    CPartner second("b");
    CLink link;
    const std::string bytes = Store([&](CArchive& ar) {
        ar.WriteObject(&first);
        ar.WriteObject(&second);
        ar.WriteObject(nullptr);
        ar.WriteObject(&link);
    });
    Bytes expected;
    expected.ClassRecord("CPartner").PartnerBody(-1, "a");
    // class 1, objects 2 and 3
    expected.U16(0x8001).PartnerBody(-1, "b");
    expected.U16(0x0000);
    expected.ClassRecord("CLink");
    ASSERT_GT(bytes.size(), expected.Size());
    EXPECT_EQ(Hex(bytes.substr(0, expected.Size())), Hex(expected.Str()));
}

TEST(ArchiveObjects, LongFormsOfClassAndObjectReferencesAreRead)
{
    Bytes b;
    b.ClassRecord("CLink").LinkBody(1, "p1");        // class 1, object 2
    b.U16(0x7FFF).U32(0x80000001).LinkBody(2, "p2"); // object 3 of class 1, long form
    b.U16(0x7FFF).U32(2);                            // object 2 again, long form
    b.U16(0x0003);                                   // object 3 again, short form
    CArchive ar = CArchive::ForLoading(b.Str());
    auto l1 = ar.ReadObject<CLink>();
    auto l2 = ar.ReadObject<CLink>();
    auto again1 = ar.ReadObject<CLink>();
    auto again2 = ar.ReadObject<CLink>();
    EXPECT_EQ(ar.Remaining(), 0u);
    ASSERT_TRUE(l1 && l2 && again1 && again2);
    EXPECT_EQ(l1->GetProject(), "p1");
    EXPECT_EQ(l2->GetProject(), "p2");
    EXPECT_EQ(again1->GetProject(), "p1");
    EXPECT_EQ(again1->GetPartnerId(), 1);
    EXPECT_EQ(again2->GetProject(), "p2");
    EXPECT_EQ(again2->GetPartnerId(), 2);
}

TEST(ArchiveObjects, BackReferenceYieldsIndependentCopy)
{
    Bytes b;
    b.ClassRecord("CLink").LinkBody(7, "original").U16(0x0002);
    CArchive ar = CArchive::ForLoading(b.Str());
    auto original = ar.ReadObject<CLink>();
    auto copy = ar.ReadObject<CLink>();
    ASSERT_TRUE(original && copy);
    EXPECT_NE(original.get(), copy.get());
    EXPECT_EQ(copy->GetProject(), "original");
    copy->SetProject("changed");
    EXPECT_EQ(original->GetProject(), "original");
    copy.reset(); // each has one owner, so freeing one leaves the other intact
    EXPECT_EQ(original->GetPartnerId(), 7);
}

TEST(ArchiveObjects, SchemaNumberIsKeptAndWrittenBack)
{
    Bytes b;
    b.ClassRecord("CLink", 3).LinkBody(1, "p");
    CArchive ar = CArchive::ForLoading(b.Str());
    auto link = ar.ReadObject<CLink>();
    ASSERT_TRUE(link);
    EXPECT_EQ(link->GetSchema(), 3);
    const std::string written = Store([&](CArchive& out) { out.WriteObject(link.get()); });
    EXPECT_EQ(Hex(written), Hex(b.Str()));
}

TEST(ArchiveObjects, DamagedReferencesFail)
{
    struct Case
    {
        const char* why;
        std::string bytes;
    };
    const std::string name64(64, 'C');
    const Case cases[] = {
        {"unknown class", Bytes().ClassRecord("CThing").LinkBody(0, "").Str()},
        {"class name of 64 characters", Bytes().ClassRecord(name64).LinkBody(0, "").Str()},
        {"class name length beyond the file", Bytes().U16(0xFFFF).U16(1).U16(60).Raw("CLink").Str()},
        {"known class at the wrong place", Bytes().ClassRecord("CPartner").PartnerBody(1, "x").Str()},
        {"object number never defined", Bytes().U16(0x0005).Str()},
        {"class number never defined", Bytes().U16(0x8001).LinkBody(0, "").Str()},
        {"class number 0", Bytes().U16(0x8000).LinkBody(0, "").Str()},
        {"long form of number 0", Bytes().U16(0x7FFF).U32(0).Str()},
        {"long form of class 0", Bytes().U16(0x7FFF).U32(0x80000000).LinkBody(0, "").Str()},
        {"long form of an undefined object", Bytes().U16(0x7FFF).U32(0x7FFFFFFF).Str()},
        {"long form of an undefined class", Bytes().U16(0x7FFF).U32(0xFFFFFFFF).LinkBody(0, "").Str()},
        {"tag cut short", Bytes().U8(0xFF).Str()},
    };
    for (const Case& c : cases) {
        CArchive ar = CArchive::ForLoading(c.bytes);
        EXPECT_THROW(ar.ReadObject<CLink>(), CArchiveException) << c.why;
    }

    // After one good link (class 1, object 2) the numbers must still be used for what they name.
    const Case afterOneLink[] = {
        {"object number naming a class", Bytes().U16(0x0001).Str()},
        {"class number naming an object", Bytes().U16(0x8002).LinkBody(0, "").Str()},
        {"long form class number naming an object", Bytes().U16(0x7FFF).U32(0x80000002).LinkBody(0, "").Str()},
        {"object number one past the last", Bytes().U16(0x0003).Str()},
    };
    for (const Case& c : afterOneLink) {
        const std::string bytes = Bytes().ClassRecord("CLink").LinkBody(0, "").Str() + c.bytes;
        CArchive ar = CArchive::ForLoading(bytes);
        ASSERT_TRUE(ar.ReadObject<CLink>()) << c.why;
        EXPECT_THROW(ar.ReadObject<CLink>(), CArchiveException) << c.why;
    }

    // A back-reference must name an object of the class expected at that place.
    Bytes mixed;
    mixed.ClassRecord("CPartner").PartnerBody(1, "x").U16(0x0002);
    CArchive ar = CArchive::ForLoading(mixed.Str());
    ASSERT_TRUE(ar.ReadObject<CPartner>());
    EXPECT_THROW(ar.ReadObject<CLink>(), CArchiveException);
}
