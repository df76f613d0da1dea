#pragma once

#include "LinksListCtrl.h"
#include "LinksModel.h"
#include "ListLayout.h"

#include <QTimer>
#include <QWidget>

#include <bitset>
#include <cstdint>
#include <vector>

class CLink;
class CLinksManager;
class CPartnersManager;
class ISettingsStore;
class OleDateTime;

/// The texts of a check-run balloon for a link's exact status; "" for statuses that have none.
QString StatusBalloonText(const CLink& link, const OleDateTime& now);

/// The main window's client area: the links list and its status balloon.
class CLinksView : public QWidget
{
    Q_OBJECT

public:
    /// Reads the stored layout from `store`, which must outlive the view; the layout goes back
    /// there when the view is destroyed.
    explicit CLinksView(ISettingsStore& store, QWidget* parent = nullptr);
    ~CLinksView() override;

    CLinksListCtrl* GetList() const { return m_list; }
    CLinksModel* GetModel() const { return m_model; }

    void Attach(CLinksManager* links, CPartnersManager* partners);
    void FillList(bool full);

    /// Sizes the shown columns to their header texts and the cells of the first rows.
    void FitColumns();
    /// The list was opened without a stored layout and has not been fitted to rows yet.
    bool IsFitPending() const { return m_fitPending; }

    /// The layout as the control shows it now.
    ListLayout ReadLayout() const;
    void ApplyLayout(const ListLayout& layout);
    void SaveLayout();

    /// A click on the header item of `kind`: the same column reverses, another sorts ascending.
    void OnHeaderClicked(LinkColumn kind);
    /// Shows or hides a kind as the column menu does, then rebuilds the rows.
    void ToggleColumn(LinkColumn kind);

    int GetRowCount() const { return m_model->rowCount(); }
    /// Selected rows in list order.
    std::vector<int> GetSelectedRows() const;
    CLink* GetLink(int row) const { return m_model->GetLink(row); }
    void SelectOnly(int row);
    QString CopySelectionAsText() const;
    int64_t GetTotalCost() const { return m_model->GetTotalCost(); }
    int64_t GetTotalPrice() const { return m_model->GetTotalPrice(); }

    /// The main window says when a context menu of its own is tracked; no balloon meanwhile.
    void SetMenuOpen(bool open);
    void HideStatusBalloon(bool keepLink = false);
    const CLink* GetBalloonLink() const { return m_balloonLink; }
    bool IsBalloonVisible() const { return m_balloonVisible; }
    /// The mouse rests on `row` (-1 = on none).
    void OnHotRow(int row);
    /// The hover delay ran out: show the balloon for the row under the mouse.
    void OnHoverTimeout(int row);

signals:
    void EditRequested();
    void DeleteRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowColumnMenu(const QPoint& pos);
    void UpdateSortIndicator();
    void ShowStatusBalloon(const CLink* link);
    void FitColumnsIfPending();
    int FittedWidth(LinkColumn kind) const;

    ISettingsStore& m_store;
    CLinksModel* m_model = nullptr;
    CLinksListCtrl* m_list = nullptr;
    ListLayout m_layout;
    bool m_unstoredLayout = false; ///< opened without a stored layout: widths follow the content
    bool m_fitPending = false;     ///< not yet fitted to any rows
    std::bitset<kLinkColumnCount> m_fittedKinds;
    bool m_menuOpen = false;
    const CLink* m_balloonLink = nullptr;
    bool m_balloonVisible = false;
    QTimer m_hoverTimer;
    QTimer m_balloonTimer;
};
