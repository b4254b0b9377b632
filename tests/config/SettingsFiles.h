#pragma once
// Settings files for the settings tests and the load benchmark: a complete file with every
// key, optionally with some values replaced or removed, in an installation root of its own.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>
#include <array>

#include "config/UBIniSettings.h"
#include "platform/Cp1252.h"

namespace settings_files {

using norvix::settings::Row;

// Demonstration values, one per row in table order.
inline const std::array<const char*, Row::RowCount>& demoValues() {
    static const std::array<const char*, Row::RowCount> values = {
        "4.2", "01/03/2026", "3", "2", "1.0125", "72.5",
        "/opt/NORVIX/OrventDuo", "/opt/NORVIX/OrventDuo/Exames", "/opt/NORVIX/OrventDuo/Dados",
        "/opt/NORVIX/OrventDuo/Exemplos", "/opt/NORVIX/OrventDuo/Laudos",
        "/opt/NORVIX/OrventDuo/Grabmod.so", "/opt/NORVIX/OrventDuo/GrabmodOrto.so",
        "/opt/NORVIX/OrventDuo/Halden.so", "/opt/NORVIX/OrventDuo/HaldenOrto.so",
        "/opt/NORVIX/OrventDuo/Mapas", "09/12/2026 08:15:00", "0",
        "/opt/NORVIX/OrventDuo/Backup.so", "1", "15", "0", "40",
        "1", "1", "1", "0", "Axial", "", "0", "0.50", "1", "1", "0", "70",
        "Clínica de Olhos São Lucas", "Rua das Acácias, 120", "Campinas - SP", "(19) 3232-4545",
        "1", "0", "1",
        "128", "96", "0", "1", "Composto", "S-Video D", "S-Video E",
        "COM1",
        "12", "345",
        "Simulada", "85", "Português", "12", "3", "1", "750", "4", "5", "2", "1",
        "1", "0", "Vermelha",
        "SALA2", "PACS_CLINICA", "pacs.clinica.local", "11112", "LISTA", "192.168.0.11", "105", "1",
        "instalação-demo",
    };
    return values;
}

// The text of a settings file, grouped by section in order of first appearance. overrides
// replaces values by "SECTION/KEY"; a null QString in it leaves the key out.
inline QByteArray settingsText(const QMap<QString, QString>& overrides = {}) {
    QStringList sections;
    QMap<QString, QStringList> lines;
    for (int i = 0; i < Row::RowCount; ++i) {
        const Row row = static_cast<Row>(i);
        const QString section = norvix::settings::sectionOf(row);
        const QString key = norvix::settings::keyOf(row);
        if (!sections.contains(section)) sections << section;
        QString value = QString::fromUtf8(demoValues()[i]);
        const auto it = overrides.find(section + QLatin1Char('/') + key);
        if (it != overrides.end()) {
            if (it->isNull()) continue;
            value = *it;
        }
        lines[section] << key + QLatin1Char('=') + value;
    }
    QString text;
    for (const QString& section : sections) {
        text += QLatin1Char('[') + section + QStringLiteral("]\r\n");
        for (const QString& line : lines[section]) text += line + QStringLiteral("\r\n");
        text += QStringLiteral("\r\n");
    }
    return norvix::toCp1252(text);
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    return f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<sem arquivo>");
    return f.readAll();
}

}  // namespace settings_files
