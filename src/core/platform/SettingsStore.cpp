#include "SettingsStore.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

namespace {

QString Key(std::string_view section, std::string_view name)
{
    const QString key = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    if (section.empty())
        return key;
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + u'/' + key;
}

class QtSettingsStore final : public ISettingsStore
{
public:
    QtSettingsStore() : m_settings(QStringLiteral("Tessel Development"), QStringLiteral("Orvex")) {}

    std::optional<int32_t> GetInt(std::string_view section, std::string_view name) const override
    {
        const QVariant v = m_settings.value(Key(section, name));
        bool ok = false;
        const int value = v.toInt(&ok);
        return ok ? std::optional<int32_t>(value) : std::nullopt;
    }

    void SetInt(std::string_view section, std::string_view name, int32_t value) override
    {
        m_settings.setValue(Key(section, name), value);
    }

    std::optional<std::string> GetString(std::string_view section, std::string_view name) const override
    {
        const QVariant v = m_settings.value(Key(section, name));
        if (!v.isValid())
            return std::nullopt;
        return v.toString().toStdString();
    }

    void SetString(std::string_view section, std::string_view name, const std::string& value) override
    {
        m_settings.setValue(Key(section, name), QString::fromStdString(value));
    }

    std::optional<std::vector<uint8_t>> GetBinary(std::string_view section, std::string_view name) const override
    {
        const QVariant v = m_settings.value(Key(section, name));
        if (!v.isValid())
            return std::nullopt;
        const QByteArray bytes = v.toByteArray();
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    }

    void SetBinary(std::string_view section, std::string_view name, const std::vector<uint8_t>& value) override
    {
        m_settings.setValue(Key(section, name), QByteArray(reinterpret_cast<const char*>(value.data()),
                                                           static_cast<qsizetype>(value.size())));
    }

    bool Sync() override
    {
        m_settings.sync();
        return m_settings.status() == QSettings::NoError;
    }

private:
    mutable QSettings m_settings;
};

} // namespace

std::unique_ptr<ISettingsStore> OpenSettingsStore()
{
    return std::make_unique<QtSettingsStore>();
}
