#pragma once

#include <QObject>
#include <QString>

class CLinksManager;
class CPartnersManager;
class ISettingsStore;
class QComboBox;
class QCompleter;
class QSortFilterProxyModel;

/// The toolbar's project, status and partner boxes: what they list, which entry they show, and
/// the collections' filters that follow from it. Each box is as wide as its longest entry (up to a
/// limit) and shows its entry's whole text as its tip. The partner box also takes typed text: a
/// completion, or a name typed whole (letter case ignored), chooses that partner as the list
/// does; any other text gives way to the box's entry when the box is left or Enter is pressed.
class CLinkFilters : public QObject
{
    Q_OBJECT

public:
    /// The boxes belong to the toolbar; the remembered project and partner texts are read from
    /// `store`, which must outlive this object.
    CLinkFilters(QComboBox* project, QComboBox* status, QComboBox* partner, ISettingsStore& store,
                 QObject* parent = nullptr);

    void Attach(CLinksManager* links, CPartnersManager* partners);
    /// Refills the boxes, selects the remembered entries, sets the filters and stores the
    /// remembered texts. Does nothing while a collection is missing.
    void RefreshFilters();

    /// The partner box's completion: every entry, in alphabetical order ignoring case.
    QCompleter* GetPartnerCompleter() const { return m_partnerCompleter; }

signals:
    /// The user chose an entry and the filters were refreshed: the list needs a full fill.
    void FiltersChanged();

private:
    void OnChosen(QComboBox* box, QString& remembered);
    /// Enter or leaving the partner box: a typed name chooses its partner, anything else goes.
    void OnPartnerTextDone();
    void FitBoxes();

    QComboBox* m_projectBox;
    QComboBox* m_statusBox;
    QComboBox* m_partnerBox;
    QSortFilterProxyModel* m_partnerSorted = nullptr; ///< the partner entries for the completion
    QCompleter* m_partnerCompleter = nullptr;
    ISettingsStore& m_store;
    CLinksManager* m_links = nullptr;
    CPartnersManager* m_partners = nullptr;
    QString m_project;
    QString m_status;
    QString m_partner;
};
