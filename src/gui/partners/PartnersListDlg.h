#pragma once

#include "PartnersListCtrl.h"
#include "PartnersListLayout.h"
#include "PartnersModel.h"

#include <QDialog>

#include <functional>
#include <vector>

class CLinksManager;
class CPartner;
class CPartnersManager;
class ISettingsStore;
class QAction;
class QMenu;
class QPushButton;

/// "Partners": the partners list with adding, editing and deleting. It works on the live
/// collection, so every change counts at once; the caller refreshes the partner filter after it
/// closes.
class CPartnersListDlg : public QDialog
{
    Q_OBJECT

public:
    /// `addPartner` runs the new-partner command (null: the dialog runs it itself); `links` is read
    /// to tell how many links a deletion leaves without their partner. `store` keeps the list's
    /// layout and the dialog's placement and must outlive the dialog.
    CPartnersListDlg(CPartnersManager& partners, const CLinksManager& links, ISettingsStore& store,
                     std::function<void()> addPartner, QWidget* parent = nullptr);
    ~CPartnersListDlg() override;

    CPartnersListCtrl* GetList() const { return m_list; }
    CPartnersModel* GetModel() const { return m_model; }
    QAction* GetEditAction() const { return m_editAction; }
    QAction* GetDeleteAction() const { return m_deleteAction; }

    void FillList();
    /// Selected rows in list order.
    std::vector<int> GetSelectedRows() const;
    void SelectOnly(int row);

    /// The layout as the control shows it now.
    PartnersListLayout ReadLayout() const;
    void ApplyLayout(const PartnersListLayout& layout);
    void SaveLayout();

    /// A click on the header item of `kind`: the same column reverses, another sorts ascending.
    void OnHeaderClicked(PartnerColumn kind);
    /// Shows or hides a kind as the column menu does, then fills the list again.
    void ToggleColumn(PartnerColumn kind);

    void OnAdd();
    /// Edits the one selected partner; nothing unless exactly one row is selected.
    void OnEdit();
    /// The "Delete..." button: asks about the selected partners and removes them on Yes; with
    /// nothing selected it only fills the list again.
    void OnDelete();
    /// The question asked before `selected` are removed.
    QString DeleteQuestion(const std::vector<const CPartner*>& selected) const;

public slots:
    void done(int result) override;

private:
    void UpdateCommandStates();
    void ShowColumnMenu(const QPoint& pos);
    void ShowRowMenu(const QPoint& globalPos);
    void EditPartner(CPartner* partner);
    void SaveState();

    CPartnersManager& m_partners;
    const CLinksManager& m_links;
    ISettingsStore& m_store;
    std::function<void()> m_addPartner;
    CPartnersModel* m_model = nullptr;
    CPartnersListCtrl* m_list = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_editButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    QMenu* m_rowMenu = nullptr;
    QAction* m_addAction = nullptr;
    QAction* m_editAction = nullptr;
    QAction* m_deleteAction = nullptr;
    PartnersListLayout m_layout;
};
