#pragma once

#include <QDate>
#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

class CLink;
class CLinksManager;
class CPartner;
class CPartnersManager;
class QComboBox;
class QLineEdit;

namespace Ui {
class LinkPropertiesDlg;
}

/// "Link properties": one new or existing link. The full form serves Add and Edit; the short form
/// (`packMode`) enters one link of a pack and leaves partner and dates to the pack.
///
/// The dialog changes nothing before it is accepted. Then, for an edited link whose From page, To
/// Page or anchor changed, the link's status goes back to 0 (it needs a new check), and a partner
/// typed into "Partner:" that is not in the list is created. The caller stores the values with
/// StoreInto.
class CLinksPropertiesDlg : public QDialog
{
    Q_OBJECT

public:
    /// exec()'s result for "S&ave&&Check": store, then check the link at once.
    static constexpr int kSaveAndCheck = 10;

    /// `edited` is the link to edit, or null for a new one. `addPartner` runs the new-partner
    /// dialog of the main window; a partner it adds is chosen here.
    CLinksPropertiesDlg(CPartnersManager& partners, CLinksManager& links, CLink* edited, bool packMode,
                        std::function<void()> addPartner, QWidget* parent = nullptr);
    ~CLinksPropertiesDlg() override;

    /// Writes the values into `link`. Payment dates and period are written for a new link, and for
    /// the edited link only when the user changed its dates.
    void StoreInto(CLink& link) const;
    /// The From page, To Page or anchor was changed while the dialog was open.
    bool NeedsRecheck() const { return m_needsRecheck; }

private:
    void LoadValues();
    void FillLists();
    void RefillAnchors();
    void RefillPartners(const CPartner* select);
    /// Reads the three texts a check depends on and notes whether they changed.
    void DetectChanges();
    /// Brings every derived control up to date with the values typed so far.
    void UpdateStep();
    void OnMonthsOrStartChanged();
    void OnNeverExpiresToggled(bool permanent);
    /// Shows the "whole amounts" hint while a cost field holds a decimal point or comma.
    void ShowCostHint();
    void OnCheckNow();
    void OnAddPartner();
    void OnSave(int result);
    bool ValidateNumbers();
    CPartner* ChosenPartner() const;
    void Refuse(QWidget* field, const QString& message);

    CPartnersManager& m_partners;
    CLinksManager& m_links;
    CLink* m_edited;
    bool m_packMode;
    std::function<void()> m_addPartner;
    std::unique_ptr<Ui::LinkPropertiesDlg> m_ui;

    /// The partners behind the entries of the partner box, in its order.
    std::vector<CPartner*> m_partnerEntries;
    /// The dates the dialog opened with: an edited link keeps its own dates unless these change.
    QDate m_shownStart;
    QDate m_shownEnd;
    QString m_previousFrom;
    QString m_previousTo;
    QString m_previousAnchor;
    bool m_needsRecheck = false;
    bool m_initialised = false;
    bool m_updating = false;
};
