#pragma once

#include <QAbstractTableModel>
#include <QColor>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CLink;
class OleDateTime;
class CLinksManager;
class CPartnersManager;
class QFontMetrics;
class QPalette;

/// The fifteen column kinds of the links list, in their fixed order.
enum LinkColumnKind : int
{
    ColumnStatus = 0,
    ColumnProject,
    ColumnPartner,
    ColumnAnchor,
    ColumnFirstStart,
    ColumnStart,
    ColumnEnd,
    ColumnFullCost,
    ColumnPrice,
    ColumnStartingPR,
    ColumnCurrentPR,
    ColumnFromPage,
    ColumnToPage,
    ColumnExternalLinks,
    ColumnComment,
};
inline constexpr int kLinkColumnCount = 15;

/// Header text of a kind, also its name in the column menu.
QString LinkColumnName(int kind);

/// Row colours for a link's status; `selected`/`focused` give the variants the list draws a
/// selection in.
struct LinkRowColors
{
    QColor background;
    QColor text;
};
LinkRowColors GetLinkRowColors(uint32_t status, bool selected, bool focused, const QPalette& palette);

/// `text` cut to `width` pixels: the last character dropped and "..." appended until it fits or
/// only "..." is left.
QString ShortenText(const QString& text, const QFontMetrics& metrics, int width);

/// The texts of a check-run balloon for a link's exact status; "" for statuses that have none.
QString StatusBalloonText(const CLink& link, const OleDateTime& now);

/// The model behind `CLinksListCtrl`: one row per link that passes the filters, one column per
/// kind (the view hides the kinds the user does not want). Rows hold only the link pointer and a
/// fingerprint of what the cells showed, so that 100,000 rows stay small and `FillList(update)`
/// can tell which rows need repainting.
class CLinksModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role
    {
        /// Text keys as QByteArray (compared byte-wise), integers as qlonglong, dates as the
        /// day count (double) or an invalid QVariant for a null or invalid date.
        SortKeyRole = Qt::UserRole + 1,
        /// The status bits (uint) of the row's link, for the delegate's colours.
        StatusRole,
    };

    explicit CLinksModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    /// Sorts the rows by a kind; the view calls it for header clicks.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    /// Keeps both collections (either may be null) and rebuilds the rows.
    void Attach(CLinksManager* links, CPartnersManager* partners);
    /// `full`: rebuild the rows from the collections through the filters and sort them.
    /// Otherwise rewrite the rows that are there and recompute the totals.
    void FillList(bool full);

    int GetSortKind() const { return m_sortKind; }
    bool IsSortDescending() const { return m_sortDescending; }
    /// Takes the sort over without re-sorting (the next fill sorts).
    void SetSort(int kind, bool descending);

    CLink* GetLink(int row) const;
    /// The row showing `link`, or -1.
    int RowOf(const CLink* link) const;
    QString CellText(int row, int kind) const;
    /// Rows given in list order, cells of `kinds` in that order, "\t\t" between cells, "\r\n"
    /// after each row.
    QString CopyRowsAsText(const std::vector<int>& rows, const std::vector<int>& kinds) const;

    int64_t GetTotalCost() const { return m_totalCost; }
    int64_t GetTotalPrice() const { return m_totalPrice; }

private:
    friend class CCellTextReader;

    struct Row
    {
        CLink* link;
        uint64_t fingerprint;
    };

    void SortRows();

    CLinksManager* m_links = nullptr;
    CPartnersManager* m_partners = nullptr;
    std::vector<Row> m_rows;
    int m_sortKind = ColumnProject;
    bool m_sortDescending = true;
    int64_t m_totalCost = 0;
    int64_t m_totalPrice = 0;
};

/// Whether a cell of `kind` can show `text` (UTF-8) at all, as it is or, with `upperCased`, in
/// upper case. Dates and numbers show digits and a sign or two, so a search for most texts need
/// not work them out row by row.
bool KindCanShow(int kind, std::string_view text, bool upperCased);

/// The texts `CLinksModel::CellText` gives, as UTF-8 and without a QString or a partner search per
/// cell, for walks over every row (Find reads each shown cell of 100,000 rows). Partner names are
/// taken once, so the model and its partners must not change while a reader is used.
class CCellTextReader
{
public:
    explicit CCellTextReader(const CLinksModel& model);

    /// The shown text of a cell; valid until the next call. Fastest row after row, downwards.
    std::string_view Text(int row, int kind);

private:
    void ReadAhead(int row) const;

    const CLinksModel& m_model;
    int m_row = -1;
    std::unordered_map<int32_t, std::string_view> m_partnerNames;
    std::string m_scratch;
};
