#pragma once

#include "core/records/LinksManager.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

class CLink;
class CPartner;
class CPartnersManager;

namespace Ui {
class LinksPackDlg;
}

/// "Links properties": a pack of new links that share one partner and one paid period, entered one
/// by one with the short link dialog; or, given a group of existing links, their partner and period
/// changed together. The group's links change only at Save.
class CLinksPackDlg : public QDialog
{
    Q_OBJECT

public:
    /// An empty `group` makes a new pack; otherwise the group's links are edited.
    CLinksPackDlg(CPartnersManager& partners, CLinksManager& links, std::vector<CLink*> group,
                  std::function<void()> addPartner, QWidget* parent = nullptr);
    ~CLinksPackDlg() override;

    /// The pack's new links, in the order they were entered; the caller copies them after OK.
    CLinksManager& PackLinks() { return m_pack; }

private:
    void RefillPartners(const CPartner* select);
    CPartner* ChosenPartner() const;
    void UpdateStep();
    void OnMonthsOrStartChanged();
    void OnAddPartner();
    void OnAddLink();
    void OnSave();
    void FillList();

    CPartnersManager& m_partners;
    CLinksManager& m_links;
    CLinksManager m_pack;
    /// The links shown and changed at Save: the pack's, or the group's.
    std::vector<CLink*> m_workLinks;
    bool m_groupMode;
    std::function<void()> m_addPartner;
    std::unique_ptr<Ui::LinksPackDlg> m_ui;
    std::vector<CPartner*> m_partnerEntries;
    bool m_initialised = false;
};
