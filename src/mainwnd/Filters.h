#pragma once

#include <QObject>
#include <QString>

class CLinksManager;
class CPartnersManager;
class ISettingsStore;
class QComboBox;

/// The toolbar's project, status and partner boxes: what they list, which entry they show, and
/// the collections' filters that follow from it.
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

    const QString& GetRememberedProject() const { return m_project; }
    const QString& GetRememberedStatus() const { return m_status; }
    const QString& GetRememberedPartner() const { return m_partner; }

signals:
    /// The user chose an entry and the filters were refreshed: the list needs a full fill.
    void FiltersChanged();

private:
    void OnChosen(QComboBox* box, QString& remembered);

    QComboBox* m_projectBox;
    QComboBox* m_statusBox;
    QComboBox* m_partnerBox;
    ISettingsStore& m_store;
    CLinksManager* m_links = nullptr;
    CPartnersManager* m_partners = nullptr;
    QString m_project;
    QString m_status;
    QString m_partner;
};
