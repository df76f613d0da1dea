#pragma once

#include "LinkCells.h"

#include <string>
#include <string_view>

class CLinksModel;

/// The texts `CLinksModel::CellText` gives, as UTF-8 and without a QString or a partner search per
/// cell, for walks over every row (Find reads each shown cell of 100,000 rows). Partner names are
/// taken once, so the model and its partners must not change while a reader is used.
class CCellTextReader
{
public:
    explicit CCellTextReader(const CLinksModel& model);

    /// The shown text of a cell; valid until the next call. Fastest row after row, downwards.
    std::string_view Text(int row, LinkColumn kind);

private:
    void ReadAhead(int row) const;

    const CLinksModel& m_model;
    int m_row = -1;
    LinkCells::PartnerNames m_partnerNames;
    std::string m_scratch;
};
