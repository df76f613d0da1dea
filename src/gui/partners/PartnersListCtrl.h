#pragma once

#include "gui/widgets/RowListView.h"

#include <QAbstractTableModel>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CPartner;
class CPartnersManager;

/// The ten column kinds of the partners list, in their fixed order.
enum PartnerColumnKind : int
{
    PartnerColumnName = 0,
    PartnerColumnOrganization,
    PartnerColumnEmail,
    PartnerColumnIcq,
    PartnerColumnPhone,
    PartnerColumnPaymentType1,
    PartnerColumnPaymentId1,
    PartnerColumnPaymentType2,
    PartnerColumnPaymentId2,
    PartnerColumnComment,
};
inline constexpr int kPartnerColumnCount = 10;

/// Header text of a kind, also its name in the column menu.
QString PartnerColumnTitle(int kind);
/// The stored field a kind shows; it is also the kind's sort key.
std::string PartnerField(const CPartner& partner, int kind);
/// The cell text of a kind: the field, with the comment's line breaks shown as blanks.
QString PartnerCellText(const CPartner& partner, int kind);

/// The stored layout of the partners list: 31 little-endian 32-bit integers. The order holds
/// header indexes (counting shown kinds in kind order); visibility and width are per kind. The
/// sort is not stored.
struct PartnersListLayout
{
    static constexpr std::size_t kBytes = 124;

    int32_t columnCount = kPartnerColumnCount;
    std::array<int32_t, kPartnerColumnCount> columnOrder{};
    std::array<int32_t, kPartnerColumnCount> columnVisible{};
    std::array<int32_t, kPartnerColumnCount> columnWidth{};

    static PartnersListLayout Defaults();
    /// Anything but exactly 124 bytes gives the defaults.
    static PartnersListLayout FromBytes(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> ToBytes() const;

    /// The shown kinds in kind order: element h is the kind of header index h.
    std::vector<int> ShownKinds() const;
};

/// One row per partner, one column per kind (the view hides the kinds the user does not want).
class CPartnersModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit CPartnersModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    /// Sorts the rows by a kind's stored text, byte by byte.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    /// Rebuilds the rows from the collection, the last created partner first, and forgets the
    /// sort: the rows stand unsorted until the next header click.
    void FillList(const CPartnersManager& partners);

    /// -1 while the rows are unsorted.
    int GetSortKind() const { return m_sortKind; }
    bool IsSortDescending() const { return m_sortDescending; }

    CPartner* GetPartner(int row) const;
    QString CellText(int row, int kind) const;

private:
    std::vector<CPartner*> m_rows;
    int m_sortKind = -1;
    bool m_sortDescending = false;
};

/// The partners list: full-row extended selection, movable header items, tips for cut-off
/// texts; keys and double-clicks come out as requests for the dialog.
class CPartnersListCtrl : public CRowListView
{
    Q_OBJECT

public:
    explicit CPartnersListCtrl(QWidget* parent = nullptr);
    /// No type-ahead search: typed characters are not the list's business.
    void keyboardSearch(const QString& search) override;

signals:
    void EditRequested();
    void DeleteRequested();
    /// A double-click on the row `row`.
    void RowActivated(int row);
    /// A double-click below the last row.
    void EmptyAreaActivated();
    /// Right-click or menu key on the rows, at a global position.
    void RowMenuRequested(const QPoint& globalPos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};
