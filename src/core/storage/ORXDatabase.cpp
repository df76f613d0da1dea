#include "ORXDatabase.h"

#include "Archive.h"
#include "SafeFile.h"
#include "core/records/TextUtil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMagic[3] = {'O', 'R', 'X'};

// Reads the whole file through the archive, or throws.
template <class Body> void ReadFile(const std::string& path, Body body, bool* existed)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    *existed = fd >= 0 || errno != ENOENT;
    if (fd < 0)
        throw CArchiveException("cannot open \"" + path + "\": " + std::strerror(errno));
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw CArchiveException("\"" + path + "\" is not a regular file");
    }
    try {
        CArchive ar = CArchive::ForLoading(
            [fd](uint8_t* data, std::size_t size) -> std::size_t {
                for (;;) {
                    const ssize_t n = ::read(fd, data, size);
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n < 0)
                        throw CArchiveException(std::string("read failed: ") + std::strerror(errno));
                    return static_cast<std::size_t>(n);
                }
            },
            static_cast<uint64_t>(st.st_size));
        body(ar);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

} // namespace

CORXDatabase::CORXDatabase()
{
    ResetCollections();
}

void CORXDatabase::ResetCollections()
{
    m_partners = std::make_unique<CPartnersManager>();
    m_links = std::make_unique<CLinksManager>();
}

void CORXDatabase::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        ar.WriteRaw(kMagic, sizeof kMagic);
        ar.WriteObject(m_partners.get());
        ar.WriteObject(m_links.get());
        return;
    }
    char magic[sizeof kMagic];
    ar.ReadRaw(magic, sizeof magic);
    if (std::memcmp(magic, kMagic, sizeof kMagic) != 0)
        throw CArchiveException("this is not an Orvex database file");
    m_partners = ar.ReadObject<CPartnersManager>();
    m_links = ar.ReadObject<CLinksManager>();
}

bool CORXDatabase::Load(const std::string& path)
{
    m_partners.reset();
    m_links.reset();
    m_path = path;
    m_holdsUnreadableFile = false;
    m_missingAtLoad = false;
    m_lastError.clear();
    bool existed = false;
    try {
        ReadFile(
            path,
            [this](CArchive& ar) {
                Serialize(ar);
                // Our files end with the last link. Bytes beyond it mean a count or a length that no
                // longer matches the records, and a file read that way would be saved back shorter.
                if (ar.Remaining() != 0)
                    throw CArchiveException(std::to_string(ar.Remaining()) +
                                            " bytes follow the last record: the file is damaged");
            },
            &existed);
        return true;
    } catch (const CArchiveException& e) {
        m_lastError = e.what();
    } catch (const std::bad_alloc&) {
        m_lastError = "not enough memory to read \"" + path + "\"";
    }
    ResetCollections();
    m_holdsUnreadableFile = existed;
    m_missingAtLoad = !existed;
    return false;
}

bool CORXDatabase::Save(const std::string& path)
{
    const std::string target = path.empty() ? m_path : path;
    const bool ownFile = EqualsIgnoringCase(target, m_path);
    m_lastError.clear();
    if (ownFile && m_holdsUnreadableFile) {
        m_lastError = "\"" + target + "\" could not be read, so it is not saved over";
        return false;
    }
    // Missing when it was opened (a link into a drive not mounted yet, say) but there now: that
    // file was never read, and the empty database must not replace it.
    if (target == m_path && m_missingAtLoad && FileExists(target)) {
        m_lastError = "\"" + target +
                      "\" did not exist when the database was opened but does now; it is not saved over (start "
                      "Orvex again to open it)";
        return false;
    }
    try {
        SafeFileWriter file(target);
        file.Open();
        CArchive ar = CArchive::ForStoring([&file](const uint8_t* data, std::size_t size) { file.Write(data, size); });
        Serialize(ar);
        ar.Flush();
        file.Commit(ownFile);
        if (ownFile)
            m_missingAtLoad = false;
        return true;
    } catch (const CArchiveException& e) {
        m_lastError = e.what();
    } catch (const std::bad_alloc&) {
        m_lastError = "not enough memory to save \"" + target + "\"";
    }
    return false;
}

bool CORXDatabase::SetAsideUnreadableFile(std::string* newName)
{
    if (!m_holdsUnreadableFile)
        return true;
    const std::string keptAs = SetFileAside(m_path, &m_lastError);
    if (keptAs.empty())
        return false;
    m_holdsUnreadableFile = false;
    m_missingAtLoad = true;
    if (newName)
        *newName = keptAs;
    return true;
}
