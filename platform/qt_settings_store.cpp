#include "platform/qt_settings_store.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace kavra::platform {
namespace {

QString Key(std::string_view name) {
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

// Plain decimal text 0..4294967295 (no sign, no spaces, no other base).
std::optional<std::uint32_t> ParseNumber(const QString& text) {
    if (text.isEmpty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c.unicode() - u'0');
    }
    if (value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

// Text whose characters are all below U+0100, one byte each; none otherwise.
std::optional<std::string> Latin1Bytes(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text) {
        if (c.unicode() > 0xFF) return std::nullopt;
        bytes.push_back(static_cast<char>(c.unicode()));
    }
    return bytes;
}

}  // namespace

QtSettingsStore::QtSettingsStore() = default;

QtSettingsStore::QtSettingsStore(std::string ini_path) : ini_path_(std::move(ini_path)) {}

QtSettingsStore::~QtSettingsStore() { Close(); }

void QtSettingsStore::Open() {
    if (settings_) return;
    if (ini_path_.empty()) {
#ifdef _WIN32
        settings_ = std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Kavra_Modem"),
                                                QSettings::NativeFormat);
#else
        settings_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                QStringLiteral("Kavra_Modem"));
#endif
    } else {
        settings_ = std::make_unique<QSettings>(QString::fromStdString(ini_path_), QSettings::IniFormat);
    }
    location_ = settings_->fileName().toStdString();
#ifndef _WIN32
    // "Creating the key": an empty file (and its folder) when there is none yet.
    const QString file = settings_->fileName();
    if (!QFileInfo::exists(file)) {
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile create(file);
        if (create.open(QIODevice::WriteOnly | QIODevice::Append)) create.close();
    }
#endif
}

QSettings& QtSettingsStore::Settings() {
    Open();
    return *settings_;
}

std::optional<std::string> QtSettingsStore::ReadString(std::string_view name) {
    const QVariant value = Settings().value(Key(name));
    if (!value.isValid()) return std::nullopt;
    switch (value.typeId()) {
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        }
        case QMetaType::QString: {
            const QString text = value.toString();
#ifndef _WIN32
            if (ParseNumber(text)) return std::nullopt;  // numbers are stored as plain decimals
#endif
            return Latin1Bytes(text);
        }
        default:
            return std::nullopt;
    }
}

std::optional<std::uint32_t> QtSettingsStore::ReadNumber(std::string_view name) {
    const QVariant value = Settings().value(Key(name));
    if (!value.isValid()) return std::nullopt;
    switch (value.typeId()) {
#ifdef _WIN32
        case QMetaType::Int:   // REG_DWORD comes back as a signed or unsigned int
        case QMetaType::UInt:
            return static_cast<std::uint32_t>(value.toUInt());
#else
        case QMetaType::QString:
            return ParseNumber(value.toString());
#endif
        default:
            return std::nullopt;
    }
}

void QtSettingsStore::WriteString(std::string_view name, std::string_view value) {
#ifdef _WIN32
    Settings().setValue(Key(name), QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size())));
#else
    Settings().setValue(Key(name), QByteArray(value.data(), static_cast<qsizetype>(value.size())));
#endif
}

void QtSettingsStore::WriteNumber(std::string_view name, std::uint32_t value) {
#ifdef _WIN32
    Settings().setValue(Key(name), QVariant::fromValue(static_cast<uint>(value)));
#else
    Settings().setValue(Key(name), QString::number(value));
#endif
}

void QtSettingsStore::Close() {
    if (!settings_) return;
    settings_->sync();
    settings_.reset();
}

}  // namespace kavra::platform
