#pragma once

#include "core/records/LinksManager.h"
#include "core/records/PartnersManager.h"

#include <memory>
#include <string>

/// All partners and links, and the file they belong to. The whole file is read at once and
/// written at once.
class CORXDatabase
{
public:
    CORXDatabase();

    /// Replaces both collections with the file's; on any failure they are empty and false comes
    /// back. The path is taken over either way.
    bool Load(const std::string& path);
    /// Writes the whole database; "" means the database's own path. The previous file stays as
    /// ".bak" when saving to the own path. Refuses to replace a file that failed to load.
    bool Save(const std::string& path = {});
    void Serialize(CArchive& ar);

    const std::string& GetPath() const { return m_path; }
    /// Either may be absent after reading a file that holds a null reference in its place.
    CPartnersManager* GetPartners() const { return m_partners.get(); }
    CLinksManager* GetLinks() const { return m_links.get(); }
    bool IsUsable() const { return m_partners && m_links; }

    /// The file at the path exists but did not load; it is never saved over until set aside.
    bool HoldsUnreadableFile() const { return m_holdsUnreadableFile; }
    /// Renames the unreadable file out of the way (to the name returned) so that saving may go on.
    bool SetAsideUnreadableFile(std::string* newName);

    /// Why the last Load or Save failed, for messages; "" after success.
    const std::string& GetLastError() const { return m_lastError; }

private:
    void ResetCollections();

    std::string m_path;
    std::unique_ptr<CPartnersManager> m_partners;
    std::unique_ptr<CLinksManager> m_links;
    bool m_holdsUnreadableFile = false;
    bool m_missingAtLoad = false; ///< the own file did not exist at the last load and was not written since
    std::string m_lastError;
};
