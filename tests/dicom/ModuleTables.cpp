#include "ModuleTables.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <QFile>
#include <QMap>
#include <QTextStream>
#include <algorithm>
#include <optional>

namespace norvix::dicom::test {

namespace {

struct Row {
    QString module, name, type;
    QList<DcmTagKey> path;  // the attribute last, the sequences that hold it before
    QStringList enumerated;
};

QList<Row> loadTable(const QString& name) {
    QFile f(qEnvironmentVariable("NORVIX_SOURCE_DIR") + QStringLiteral("/tests/dicom/iod/") + name);
    QList<Row> rows;
    if (!f.open(QIODevice::ReadOnly)) return rows;
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(u'#') || line.trimmed().isEmpty()) continue;
        const QStringList c = line.split(u'\t');
        if (c.size() < 5) continue;
        Row r{c[0], c[2], c[3], {}, c[4].isEmpty() ? QStringList() : c[4].split(u'|')};
        for (const QString& t : c[1].split(u'>')) r.path << DcmTagKey(t.left(4).toUShort(nullptr, 16), t.mid(5).toUShort(nullptr, 16));
        rows << r;
    }
    return rows;
}

QString text(DcmItem* item, const DcmTagKey& tag, unsigned long i = 0) {
    OFString v;
    return item->findAndGetOFString(tag, v, i).good() ? QString::fromUtf8(v.c_str()).trimmed() : QString();
}

// The conditions (1C, 2C) that the object itself, or what this program never does, decides;
// none for the others, which are only held to carry a value when present.
std::optional<bool> required(const Row& row, DcmItem* ds) {
    if (row.path.size() != 1) return std::nullopt;
    const DcmTagKey t = row.path.last();
    const auto is = [&](const DcmTagKey& k, const char* v) { return text(ds, k) == QLatin1String(v); };
    if (t == DCM_PupilCentroidXCoordinate || t == DCM_PupilCentroidYCoordinate || t == DCM_EquivalentPupilRadius ||
        t == DCM_VerticesOfTheOutlineOfPupil)
        return is(DCM_CornealTopographySurface, "A");
    if (t == DCM_LossyImageCompressionRatio || t == DCM_LossyImageCompressionMethod)
        return is(DCM_LossyImageCompression, "01");
    if (t == DCM_PlanarConfiguration) return text(ds, DCM_SamplesPerPixel).toInt() > 1;
    if (t == DCM_RedPaletteColorLookupTableDescriptor || t == DCM_GreenPaletteColorLookupTableDescriptor ||
        t == DCM_BluePaletteColorLookupTableDescriptor || t == DCM_RedPaletteColorLookupTableData ||
        t == DCM_GreenPaletteColorLookupTableData || t == DCM_BluePaletteColorLookupTableData)
        return is(DCM_PhotometricInterpretation, "PALETTE COLOR");
    if (t == DCM_PixelData) return !ds->tagExists(DCM_PixelDataProviderURL);
    if (t == DCM_SourceImageSequence) return is(DCM_ImageType, "DERIVED") ? std::optional(true) : std::nullopt;
    if (t == DCM_AcquisitionDateTime) return is(DCM_ImageType, "ORIGINAL") ? std::optional(true) : std::nullopt;
    if (t == DCM_PresentationLUTShape) return is(DCM_PhotometricInterpretation, "MONOCHROME2");
    if (t == DCM_PatientEyeMovementCommandCodeSequence) return is(DCM_PatientEyeMovementCommanded, "YES");
    if (t == DCM_DegreeOfDilation || t == DCM_MydriaticAgentSequence) return is(DCM_PupilDilated, "YES");
    if (t == DCM_Laterality) return !ds->tagExists(DCM_ImageLaterality);
    if (t == DCM_PatientOrientation) return !ds->tagExists(DCM_ImageOrientationPatient);
    if (t == DCM_PixelSpacing && row.module == QLatin1String("Corneal Topography Map Image")) return true;  // calibrated
    // Patients here are people; the station keeps no procedure steps, uses no normative
    // database and rates no map's quality.
    if (t == DCM_PatientSpeciesDescription || t == DCM_PatientSpeciesCodeSequence || t == DCM_PatientBreedDescription ||
        t == DCM_PatientBreedCodeSequence || t == DCM_BreedRegistrationSequence || t == DCM_ResponsiblePerson ||
        t == DCM_ResponsibleOrganization || t == DCM_AnatomicalOrientationType ||
        t == DCM_ReferencedPerformedProcedureStepSequence || t == DCM_CornealTopographyMappingNormalsSequence ||
        t == DCM_CornealTopographyMapQualityEvaluation)
        return false;
    return std::nullopt;
}

// A value against an enumerated list: "0000H" is the number 0, the rest text as it stands.
bool allowed(DcmElement* e, unsigned long i, const QStringList& list) {
    OFString v;
    e->getOFString(v, i);
    const QString value = QString::fromUtf8(v.c_str()).trimmed();
    return std::any_of(list.begin(), list.end(), [&](const QString& x) {
        return x.endsWith(u'H') ? x.chopped(1).toLong(nullptr, 16) == value.toLong() : x == value;
    });
}

QString tagText(const DcmTagKey& t) { return QString::fromLatin1(t.toString().c_str()).toUpper(); }

void checkRow(const Row& row, DcmDataset* ds, QStringList* out) {
    QList<DcmItem*> items{ds};
    for (qsizetype level = 0; level + 1 < row.path.size(); ++level) {
        QList<DcmItem*> inner;
        for (DcmItem* it : std::as_const(items)) {
            DcmSequenceOfItems* sq = nullptr;
            if (it->findAndGetSequence(row.path[level], sq).good() && sq)
                for (unsigned long k = 0; k < sq->card(); ++k) inner << sq->getItem(k);
        }
        items = inner;
    }
    QString where;
    for (const DcmTagKey& t : row.path) where += (where.isEmpty() ? QString() : QStringLiteral(">")) + tagText(t);
    const QString label = QStringLiteral("%1 %2 [%3, %4]").arg(where, row.name, row.type, row.module);
    const bool conditional = row.type.endsWith(u'C');
    const std::optional<bool> needed = row.type == QLatin1String("3") ? std::optional(false)
                                       : conditional                  ? required(row, ds)
                                                                      : std::optional(true);
    const bool needsValue = row.type.startsWith(u'1');
    for (DcmItem* it : std::as_const(items)) {
        DcmElement* e = nullptr;
        const bool present = it->findAndGetElement(row.path.last(), e, OFFalse).good() && e;
        const bool empty = !present || (e->ident() == EVR_SQ ? static_cast<DcmSequenceOfItems*>(e)->card() == 0
                                                             : e->getLengthField() == 0);  // as read: compressed pixels have an undefined length
        if (needed.value_or(false) && !present) {
            *out << label + QStringLiteral(": ausente");
            continue;
        }
        if (present && empty && needsValue && (needed.value_or(false) || conditional)) {
            *out << label + QStringLiteral(": vazio");
            continue;
        }
        if (!present || empty || row.enumerated.isEmpty() || e->ident() == EVR_SQ) continue;
        for (unsigned long i = 0; i < e->getVM(); ++i)
            if (!allowed(e, i, row.enumerated)) {
                OFString v;
                e->getOFString(v, i);
                *out << label + QStringLiteral(": \"%1\" fora de %2").arg(QString::fromUtf8(v.c_str()), row.enumerated.join(u'|'));
            }
    }
}

}  // namespace

QStringList moduleTableFindings(const QString& file) {
    static const QMap<QString, QString> tables{
        {QStringLiteral(UID_CornealTopographyMapStorage), QStringLiteral("corneal-topography-map.tsv")},
        {QStringLiteral(UID_OphthalmicPhotography8BitImageStorage), QStringLiteral("ophthalmic-photography-8bit.tsv")},
        {QStringLiteral(UID_EncapsulatedPDFStorage), QStringLiteral("encapsulated-pdf.tsv")}};
    DcmFileFormat f;
    if (f.loadFile(QFile::encodeName(file).constData()).bad()) return {QStringLiteral("%1: não foi lido").arg(file)};
    DcmDataset* ds = f.getDataset();
    const QString sopClass = text(ds, DCM_SOPClassUID);
    if (!tables.contains(sopClass)) return {QStringLiteral("%1: classe %2 sem tabela").arg(file, sopClass)};
    const QList<Row> rows = loadTable(tables[sopClass]);
    if (rows.isEmpty()) return {QStringLiteral("tabela %1 não encontrada ou vazia").arg(tables[sopClass])};
    QStringList out;
    for (const Row& r : rows) checkRow(r, ds, &out);
    out.removeDuplicates();
    return out;
}

}  // namespace norvix::dicom::test
