#include "core/exchange/NumberFormat.h"

#include "core/records/OleDateTime.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

double Serial(int y, int m, int d, int h = 0, int mi = 0, int s = 0)
{
    return OleDateTime::FromParts(y, m, d, h, mi, s).GetValue();
}

} // namespace

TEST(NumberFormat, GeneralShowsWhatFitsElevenCharacters)
{
    EXPECT_EQ(NumberFormat::General(0), "0");
    EXPECT_EQ(NumberFormat::General(30), "30");
    EXPECT_EQ(NumberFormat::General(-7.9), "-7.9");
    EXPECT_EQ(NumberFormat::General(0.1 + 0.2), "0.3");
    EXPECT_EQ(NumberFormat::General(1.0 / 3.0), "0.333333333");
    EXPECT_EQ(NumberFormat::General(3.14159265358979), "3.141592654");
    EXPECT_EQ(NumberFormat::General(12345678901.0), "12345678901");
    EXPECT_EQ(NumberFormat::General(123456789012.0), "1.23457E+11");
    EXPECT_EQ(NumberFormat::General(99999999999.9), "1E+11");
    EXPECT_EQ(NumberFormat::General(0.00001), "0.00001");
    EXPECT_EQ(NumberFormat::General(1.23456789e-7), "1.23457E-07");
    EXPECT_EQ(NumberFormat::General(-0.0), "0");
}

// Rounding half away from zero on what is shown, sections, currency and percent; dates and times
// as the calendar and the clock show them, minutes told from months; a date code on a number no
// calendar has shows the number.
TEST(NumberFormat, CodesShowTheValueAsSpreadsheetsDo)
{
    const double jan31 = Serial(2024, 1, 31);
    const double afternoon = Serial(2024, 1, 31, 14, 30, 5);
    const struct
    {
        double value;
        std::string_view code;
        const char* shown;
    } cases[] = {
        {12.5, "0", "13"},
        {-12.5, "0", "-13"},
        {2.675, "0.00", "2.68"}, // 2.67499999... in binary
        {-0.004, "0.00", "0.00"},
        {1234567.8, "#,##0", "1,234,568"},
        {999.999, "#,##0.00", "1,000.00"},
        {0.5, "#,##0.00", "0.50"},
        {7, "000", "007"},
        {1.5, "0.0#", "1.5"},
        {1234567, "#,##0,", "1,235"}, // trailing comma scales by 1000
        {12345, "0.00E+00", "1.23E+04"},
        {42, "General", "42"},
        {42, "0 \"pcs\"", "42 pcs"},
        {30, "[$$-409]#,##0.00", "$30.00"},
        {-30, "[$$-409]#,##0.00", "-$30.00"},
        {1234.5, "\"$\"#,##0.00", "$1,234.50"},
        {5, "#,##0.00 [$€-407]", "5.00 €"},
        {5, "$#,##0.00_);($#,##0.00)", "$5.00 "},
        {-5, "$#,##0.00_);($#,##0.00)", "($5.00)"},
        {0, "0.00;-0.00;\"zero\"", "zero"},
        {0.125, "0.00%", "12.50%"},
        {0.5, "0%", "50%"},
        {30, NumberFormat::BuiltInCode(7), "$30.00 "},
        {jan31, "m/d/yy", "1/31/24"},
        {jan31, "mm/dd/yyyy", "01/31/2024"},
        {jan31, "MM/DD/YYYY", "01/31/2024"},
        {jan31, "yyyy-mm-dd", "2024-01-31"},
        {jan31, "d-mmm-yy", "31-Jan-24"},
        {jan31, "d\\-mmm\\-yy", "31-Jan-24"},
        {jan31, "dd.mm.yyyy", "31.01.2024"},
        {jan31, "dddd, mmmm d, yyyy", "Wednesday, January 31, 2024"},
        {jan31, "[$-409]mmmmm", "J"},
        {jan31, NumberFormat::BuiltInCode(14), "1/31/2024"},
        {Serial(2000, 2, 29), "yyyy-mm-dd", "2000-02-29"},
        {Serial(1900, 3, 1), "yyyy-mm-dd", "1900-03-01"},
        {afternoon, "yyyy\\-mm\\-dd\\ hh:mm", "2024-01-31 14:30"},
        {afternoon, "h:mm AM/PM", "2:30 PM"},
        {afternoon, "hh:mm:ss", "14:30:05"},
        {afternoon, "mm:ss", "30:05"},
        {Serial(2024, 1, 31, 0, 5), "h:mm a/p", "12:05 A"},
        {1.5, "[h]:mm", "36:00"},
        // Just before midnight rounds into the next day, as the second is the finest part shown.
        {Serial(2024, 1, 31) + 0.9999999, "yyyy-mm-dd hh:mm:ss", "2024-02-01 00:00:00"},
        {-1, "yyyy-mm-dd", "-1"},
        {1e12, "yyyy-mm-dd", "1E+12"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NumberFormat::Format(c.value, c.code), c.shown) << c.value << " as " << c.code;
}

TEST(NumberFormat, DateCodesAreToldFromNumberCodes)
{
    EXPECT_TRUE(NumberFormat::IsDateCode("mm/dd/yyyy"));
    EXPECT_TRUE(NumberFormat::IsDateCode("[$-409]d-mmm-yy;@"));
    EXPECT_TRUE(NumberFormat::IsDateCode("[h]:mm"));
    EXPECT_TRUE(NumberFormat::IsDateCode("h:mm AM/PM"));
    EXPECT_FALSE(NumberFormat::IsDateCode("General"));
    EXPECT_FALSE(NumberFormat::IsDateCode(""));
    EXPECT_FALSE(NumberFormat::IsDateCode("0.00E+00"));
    EXPECT_FALSE(NumberFormat::IsDateCode("[Red]#,##0"));
    EXPECT_FALSE(NumberFormat::IsDateCode("#,##0 \"days\""));
    EXPECT_FALSE(NumberFormat::IsDateCode("0\\d"));
    EXPECT_FALSE(NumberFormat::IsDateCode("[$$-409]#,##0.00"));
    EXPECT_TRUE(NumberFormat::IsBuiltInDate(14));
    EXPECT_TRUE(NumberFormat::IsBuiltInDate(22));
    EXPECT_TRUE(NumberFormat::IsBuiltInDate(47));
    EXPECT_FALSE(NumberFormat::IsBuiltInDate(4));
    EXPECT_FALSE(NumberFormat::IsBuiltInDate(49));
}
