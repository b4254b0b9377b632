#include "dicom/DicomObjects.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryFile>

#include "outside/math/CornealMap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace norvix::dicom {

namespace {

const char* const kPhotographClass = UID_OphthalmicPhotography8BitImageStorage;
const char* const kMapClass = UID_CornealTopographyMapStorage;
const char* const kPdfClass = UID_EncapsulatedPDFStorage;

#ifndef NORVIX_SOFTWARE_VERSION
#define NORVIX_SOFTWARE_VERSION "0"
#endif

// Each series of a visit has its own number, the same every time the visit is sent, so a PACS
// lists them apart and a second send lands in the same series. The first four keep the numbers
// they had before the other maps were written.
struct SeriesKind {
    const char* key;
    int number;
    const char* description;
};
constexpr SeriesKind kPhotographSeries{"foto", 1, "Foto do anel central"};
constexpr SeriesKind kReportSeries{"relatório", 3, "Relatório"};

SeriesKind mapSeries(MapType t) {
    switch (t) {
    case MapType::Axial: return {"mapa axial", 2, "Mapa axial"};
    case MapType::Tangential: return {"mapa tangencial", 5, "Mapa tangencial"};
    case MapType::Refractive: return {"mapa refrativo", 6, "Mapa refrativo"};
    case MapType::Elevation: return {"mapa elevação", 7, "Mapa de elevação"};
    }
    return {"mapa axial", 2, "Mapa axial"};
}
// A picture derived from another exam of the visit (the tear film's map): 4, as it always was.
constexpr int kDerivedSeriesNumber = 4;

QString eyeKey(Eye eye) { return eye == Eye::Right ? QStringLiteral("OD") : QStringLiteral("OE"); }
const char* laterality(Eye eye) { return eye == Eye::Right ? "R" : "L"; }
// Both eyes share each series; right first, as the exam is taken and shown.
const char* instanceNumber(Eye eye) { return eye == Eye::Right ? "1" : "2"; }

bool fail(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

// DICOM counts characters in its length limits; cut there rather than have a PACS refuse it.
QByteArray text(const QString& s, int maxChars) { return s.trimmed().left(maxChars).toUtf8(); }

OFString number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

struct Writer {
    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    bool ok = true;

    void put(const DcmTagKey& tag, const QByteArray& value) { ok = ok && ds->putAndInsertString(tag, value.constData()).good(); }
    void put(const DcmTagKey& tag, const char* value) { ok = ok && ds->putAndInsertString(tag, value).good(); }
    void empty(const DcmTagKey& tag) { ok = ok && ds->insertEmptyElement(tag).good(); }
    void us(const DcmTagKey& tag, int v) { ok = ok && ds->putAndInsertUint16(tag, Uint16(v)).good(); }
};

void putCode(DcmItem* into, const DcmTagKey& sequence, const char* value, const char* scheme, const char* meaning) {
    DcmItem* item = nullptr;
    if (into->findOrCreateSequenceItem(sequence, item, -2).good() && item) {
        item->putAndInsertString(DCM_CodeValue, value);
        item->putAndInsertString(DCM_CodingSchemeDesignator, scheme);
        item->putAndInsertString(DCM_CodeMeaning, meaning);
    }
}

void emptySequence(DcmItem* into, const DcmTagKey& sequence) { into->insertEmptyElement(sequence); }

// The photograph's acquisition context and parameters (and the map's, which comes from it):
// the instrument measures none of them, so they are present and empty.
void putAcquisitionContext(Writer& w) {
    emptySequence(w.ds, DCM_AcquisitionContextSequence);
    w.empty(DCM_PatientEyeMovementCommanded);
    w.empty(DCM_HorizontalFieldOfView);
    emptySequence(w.ds, DCM_RefractiveStateSequence);
    w.empty(DCM_EmmetropicMagnification);
    w.empty(DCM_IntraOcularPressure);
    w.put(DCM_PupilDilated, "NO");
}

// Issuer of Patient ID, with its qualifier when it is this installation's identity (a UUID), so
// a PACS tells apart the patients numbered alike by installations that say who they are.
void putIssuer(DcmItem* into, const QString& issuer, const QString& installationId) {
    if (issuer.trimmed().isEmpty()) return;
    into->putAndInsertString(DCM_IssuerOfPatientID, text(issuer, 64).constData());
    DcmItem* q = nullptr;
    if (issuer == installationId && into->findOrCreateSequenceItem(DCM_IssuerOfPatientIDQualifiersSequence, q, -2).good() && q) {
        q->putAndInsertString(DCM_UniversalEntityID, text(issuer, 64).constData());
        q->putAndInsertString(DCM_UniversalEntityIDType, "UUID");
    }
}

void putPatientIds(Writer& w, const Patient& patient, const Visit& visit) {
    w.put(DCM_PatientID, text(patient.id, 64));
    putIssuer(w.ds, patient.issuer, visit.installationId);
    for (const IssuedId& other : patient.otherIds) {
        DcmItem* item = nullptr;
        if (other.id.trimmed().isEmpty() || w.ds->findOrCreateSequenceItem(DCM_OtherPatientIDsSequence, item, -2).bad() || !item) continue;
        item->putAndInsertString(DCM_PatientID, text(other.id, 64).constData());
        putIssuer(item, other.issuer, visit.installationId);
        item->putAndInsertString(DCM_TypeOfPatientID, "TEXT");
    }
}

// The RIS's order the visit was taken for, as the Request Attributes macro says it.
void putRequest(Writer& w, const Order& order) {
    DcmItem* item = nullptr;
    if (w.ds->findOrCreateSequenceItem(DCM_RequestAttributesSequence, item, -2).bad() || !item) {
        w.ok = false;
        return;
    }
    const std::pair<DcmTagKey, QString> values[] = {
        {DCM_RequestedProcedureID, order.requestedProcedureId},
        {DCM_AccessionNumber, order.accessionNumber},
        {DCM_StudyInstanceUID, order.studyInstanceUid},
        {DCM_RequestedProcedureDescription, order.requestedProcedureDescription},
        {DCM_ScheduledProcedureStepID, order.scheduledStepId}};
    for (const auto& [tag, value] : values)
        if (!value.trimmed().isEmpty()) item->putAndInsertString(tag, text(value, 64).constData());
}

// Patient, study, series, equipment and SOP common: what every object of the visit shares.
void putCommon(Writer& w, const Patient& patient, const Visit& visit, const char* sopClass, const QString& instanceUid,
               const QString& seriesKind, const char* modality, int seriesNumber, const QString& seriesDescription) {
    w.put(DCM_SpecificCharacterSet, "ISO_IR 192");
    w.put(DCM_SOPClassUID, sopClass);
    w.put(DCM_SOPInstanceUID, instanceUid.toLatin1());
    const QDateTime when = visit.dateTime.isValid() ? visit.dateTime : QDateTime::currentDateTime();
    const QByteArray date = when.date().toString(QStringLiteral("yyyyMMdd")).toLatin1();
    const QByteArray time = when.time().toString(QStringLiteral("HHmmss")).toLatin1();
    w.put(DCM_InstanceCreationDate, date);
    w.put(DCM_InstanceCreationTime, time);

    w.put(DCM_PatientName, personName(patient.fullName).toUtf8());
    putPatientIds(w, patient, visit);
    if (patient.birthDate.isValid())
        w.put(DCM_PatientBirthDate, patient.birthDate.toString(QStringLiteral("yyyyMMdd")).toLatin1());
    else
        w.empty(DCM_PatientBirthDate);
    const QString sex = patient.sex.trimmed().toUpper();
    if (sex == u"M" || sex == u"F" || sex == u"O")
        w.put(DCM_PatientSex, sex.toLatin1());
    else
        w.empty(DCM_PatientSex);

    w.put(DCM_StudyInstanceUID, studyUidOf(visit).toLatin1());
    w.put(DCM_StudyDate, date);
    w.put(DCM_StudyTime, time);
    w.put(DCM_ReferringPhysicianName, physicianName(visit.referringPhysician).toUtf8());
    w.put(DCM_StudyID, text(visit.examCode, 16));
    if (visit.order && !visit.order->accessionNumber.trimmed().isEmpty())
        w.put(DCM_AccessionNumber, text(visit.order->accessionNumber, 64));
    else
        w.empty(DCM_AccessionNumber);
    w.put(DCM_StudyDescription, "Topografia corneana");

    w.put(DCM_Modality, modality);
    w.put(DCM_SeriesInstanceUID,
          stableUid({visit.installationId, visit.examCode, QStringLiteral("série"), seriesKind}).toLatin1());
    w.put(DCM_SeriesNumber, QByteArray::number(seriesNumber));
    if (!seriesDescription.isEmpty()) w.put(DCM_SeriesDescription, text(seriesDescription, 64));
    w.put(DCM_SeriesDate, date);
    w.put(DCM_SeriesTime, time);
    if (visit.order) putRequest(w, *visit.order);
    w.put(DCM_ContentDate, date);
    w.put(DCM_ContentTime, time);

    const Equipment& eq = visit.equipment;
    w.put(DCM_Manufacturer, text(eq.manufacturer, 64));
    w.put(DCM_ManufacturerModelName, text(eq.model, 64));
    w.put(DCM_DeviceSerialNumber, text(eq.serialNumber.isEmpty() ? visit.installationId : eq.serialNumber, 64));
    // Required with a value by the topography map's equipment module; every object says it.
    w.put(DCM_SoftwareVersions, eq.softwareVersion.trimmed().isEmpty() ? QByteArray(NORVIX_SOFTWARE_VERSION)
                                                                      : text(eq.softwareVersion, 64));
    if (!visit.institution.isEmpty()) w.put(DCM_InstitutionName, text(visit.institution, 64));
    if (!visit.stationName.isEmpty()) w.put(DCM_StationName, text(visit.stationName, 16));
}

bool checkVisit(const Patient& patient, const Visit& visit, QString* error) {
    if (visit.installationId.trimmed().isEmpty())
        return fail(error, QStringLiteral("A identidade da instalação não foi informada; sem ela os objetos DICOM não "
                                          "teriam identificadores estáveis."));
    if (visit.examCode.trimmed().isEmpty())
        return fail(error, QStringLiteral("O código do exame não foi informado."));
    if (patient.id.trimmed().isEmpty())
        return fail(error, QStringLiteral("O paciente não tem identificação (ID)."));
    return true;
}

// The object into folder/<instance UID>.dcm: written beside it under a temporary name and
// renamed, so the final name only ever holds a whole object.
bool save(Writer& w, const QString& folder, E_TransferSyntax syntax, const char* sopClass, const QString& uid,
          Written* written, QString* error) {
    if (!w.ok) return fail(error, QStringLiteral("Não foi possível montar o objeto DICOM (atributo recusado pelo DCMTK)."));
    const QFileInfo dir(folder);
    if (folder.isEmpty() || !dir.isDir())
        return fail(error, QStringLiteral("A pasta de destino \"%1\" não existe ou não é uma pasta.").arg(folder));
    const QString target = QDir(folder).filePath(uid + QStringLiteral(".dcm"));
    QTemporaryFile temp(QDir(folder).filePath(QStringLiteral(".norvix-dicom-XXXXXX")));
    if (!temp.open())
        return fail(error, QStringLiteral("Não é possível gravar na pasta \"%1\": %2.").arg(folder, temp.errorString()));
    temp.close();
    const QByteArray tempPath = QFile::encodeName(temp.fileName());
    const OFCondition cond = w.file.saveFile(tempPath.constData(), syntax, EET_ExplicitLength, EGL_recalcGL,
                                             EPD_withoutPadding, 0, 0, EWM_fileformat);
    if (cond.bad())
        return fail(error, QStringLiteral("Falha ao gravar o objeto DICOM em \"%1\": %2.")
                               .arg(folder, QString::fromLocal8Bit(cond.text())));
    {
        QFile f(temp.fileName());
        if (f.open(QIODevice::ReadOnly)) ::fsync(f.handle());
        // The temporary file is private (0600); the PACS gateway reading the folder may run
        // as another user.
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    if (std::rename(tempPath.constData(), QFile::encodeName(target).constData()) != 0)
        return fail(error, QStringLiteral("Não foi possível dar o nome final a \"%1\".").arg(target));
    temp.setAutoRemove(false);
    if (written) *written = {QString::fromLatin1(sopClass), uid, target};
    return true;
}

struct JpegFrame {
    int width = 0, height = 0, components = 0;
    bool subsampled = false;
};

// The frame header of a baseline JPEG (SOF0, 8 bits); false for anything else, which the
// baseline transfer syntax cannot carry as it is.
bool readBaseline(const QByteArray& jpeg, JpegFrame* frame) {
    const auto* p = reinterpret_cast<const unsigned char*>(jpeg.constData());
    const qsizetype n = jpeg.size();
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8) return false;
    qsizetype i = 2;
    while (i + 4 <= n) {
        if (p[i] != 0xFF) return false;
        const int marker = p[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        const int length = (p[i + 2] << 8) | p[i + 3];
        if (marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) return false;
        if (marker == 0xC0) {
            if (i + 2 + length > n || length < 8) return false;
            const unsigned char* s = p + i + 4;
            if (s[0] != 8) return false;
            frame->height = (s[1] << 8) | s[2];
            frame->width = (s[3] << 8) | s[4];
            frame->components = s[5];
            if (frame->components != 1 && frame->components != 3) return false;
            if (length < 8 + 3 * frame->components) return false;
            if (frame->components == 3) frame->subsampled = s[7] != s[10] || s[7] != s[13];
            return frame->width > 0 && frame->height > 0;
        }
        if (marker == 0xDA || marker == 0xD9) return false;
        i += 2 + length;
    }
    return false;
}

}  // namespace

QString personName(const QString& fullName) {
    QString cleaned = fullName;
    cleaned.replace(QRegularExpression(QStringLiteral("[\\^=\\\\]")), QStringLiteral(" "));
    const QStringList words = cleaned.simplified().split(u' ', Qt::SkipEmptyParts);
    if (words.size() <= 1) return words.value(0);
    static const QStringList particles = {QStringLiteral("da"),  QStringLiteral("de"),  QStringLiteral("do"),
                                          QStringLiteral("das"), QStringLiteral("dos"), QStringLiteral("e"),
                                          QStringLiteral("d'"),  QStringLiteral("d’")};
    static const QStringList generations = {QStringLiteral("filho"),    QStringLiteral("filha"),
                                            QStringLiteral("júnior"),   QStringLiteral("junior"),
                                            QStringLiteral("jr."),      QStringLiteral("jr"),
                                            QStringLiteral("neto"),     QStringLiteral("neta"),
                                            QStringLiteral("sobrinho"), QStringLiteral("sobrinha")};
    qsizetype start = words.size() - 1;
    if (generations.contains(words[start].toLower()) && start > 1) --start;
    while (start > 1 && particles.contains(words[start - 1].toLower())) --start;
    return words.mid(start).join(u' ') + u'^' + words.mid(0, start).join(u' ');
}

QString physicianName(const QString& fullName) {
    // Titles as clinics register them, with or without the dot or the feminine ordinal.
    static const QRegularExpression title(
        QStringLiteral("^(?:dr|dra|drª|prof|profa|profª|doutor|doutora|professor|professora)\\.?$"),
        QRegularExpression::CaseInsensitiveOption);
    QString cleaned = fullName;
    cleaned.replace(QRegularExpression(QStringLiteral("[\\^=\\\\]")), QStringLiteral(" "));
    QStringList words = cleaned.simplified().split(u' ', Qt::SkipEmptyParts);
    QStringList titles;
    while (words.size() > 1 && title.match(words.first()).hasMatch()) titles << words.takeFirst();
    if (titles.isEmpty()) return personName(fullName);
    QStringList parts = personName(words.join(u' ')).split(u'^');
    while (parts.size() < 3) parts << QString();
    return parts.join(u'^') + u'^' + titles.join(u' ');
}

QString studyUidOf(const Visit& visit) {
    return visit.studyUid.isEmpty() ? stableUid({visit.installationId, visit.examCode, QStringLiteral("estudo")})
                                    : visit.studyUid;
}

QString stableUid(const QStringList& parts) {
    QByteArray digest = QCryptographicHash::hash(parts.join(QChar(0x1F)).toUtf8(), QCryptographicHash::Sha1).left(16);
    digest[6] = char((digest[6] & 0x0F) | 0x50);  // version 5: name-based, SHA-1
    digest[8] = char((digest[8] & 0x3F) | 0x80);  // the variant of RFC 4122
    unsigned __int128 value = 0;
    for (char c : digest) value = (value << 8) | static_cast<unsigned char>(c);
    QByteArray digits;
    do {
        digits.prepend(char('0' + int(value % 10)));
        value /= 10;
    } while (value != 0);
    return QStringLiteral("2.25.") + QString::fromLatin1(digits);
}

bool writePhotograph(const Patient& patient, const Visit& visit, const Photograph& photo, const QString& folder,
                     Written* written, QString* error) {
    if (!checkVisit(patient, visit, error)) return false;
    JpegFrame frame;
    const bool useJpeg = !photo.jpeg.isEmpty();
    if (useJpeg && !readBaseline(photo.jpeg, &frame))
        return fail(error, QStringLiteral("A foto do olho não é um JPEG baseline de 8 bits; não é possível enviá-la "
                                          "sem recomprimir."));
    if (!useJpeg && (photo.image.isNull() || photo.image.width() < 1 || photo.image.height() < 1))
        return fail(error, QStringLiteral("A foto do olho está vazia."));

    const bool derived = !photo.derivedKey.isEmpty();
    const QString uid =
        derived ? stableUid({visit.installationId, visit.examCode, QStringLiteral("foto"), photo.derivedKey, eyeKey(photo.eye)})
                : stableUid({visit.installationId, visit.examCode, QStringLiteral("foto"), eyeKey(photo.eye)});
    Writer w;
    putCommon(w, patient, visit, kPhotographClass, uid,
              derived ? QStringLiteral("foto ") + photo.derivedKey : QString::fromUtf8(kPhotographSeries.key), "OP",
              derived ? kDerivedSeriesNumber : kPhotographSeries.number,
              derived ? photo.description : QString::fromUtf8(kPhotographSeries.description));
    if (derived && !photo.comments.isEmpty()) w.put(DCM_ImageComments, text(photo.comments, 10240));
    w.put(DCM_InstanceNumber, instanceNumber(photo.eye));
    DcmDataset* ds = w.ds;
    QDateTime when = visit.dateTime.isValid() ? visit.dateTime : QDateTime::currentDateTime();
    if (derived && photo.acquired.isValid()) {
        // A derived picture is dated by the recording it comes from, not by the visit.
        when = photo.acquired;
        const QByteArray date = when.date().toString(QStringLiteral("yyyyMMdd")).toLatin1();
        const QByteArray time = when.time().toString(QStringLiteral("HHmmss")).toLatin1();
        w.put(DCM_SeriesDate, date);
        w.put(DCM_SeriesTime, time);
        w.put(DCM_ContentDate, date);
        w.put(DCM_ContentTime, time);
    }
    w.put(DCM_AcquisitionDateTime, when.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1());
    // An ophthalmic photograph is PRIMARY; a derived one says how in value 3. The tear film's
    // map is no montage (the only term the standard defines), so it names itself.
    w.put(DCM_ImageType, derived ? "DERIVED\\PRIMARY\\TEAR_FILM_MAP" : "ORIGINAL\\PRIMARY");
    // Required for a derived picture, and empty here: the tear film's map comes from a recording
    // that is no DICOM object, and pointing at the ring photograph instead would name a source
    // the map never used.
    if (derived) emptySequence(ds, DCM_SourceImageSequence);
    w.put(DCM_ImageLaterality, laterality(photo.eye));
    putCode(ds, DCM_AnatomicRegionSequence, "81745001", "SCT", "Eye");
    w.put(DCM_BurnedInAnnotation, "NO");
    w.empty(DCM_PatientOrientation);
    // The clock is the workstation's own, synchronised with nothing: said so, as the IOD asks.
    w.put(DCM_SynchronizationFrameOfReferenceUID, UID_UniversalCoordinatedTimeSynchronizationFrameOfReference);
    w.put(DCM_SynchronizationTrigger, "NO TRIGGER");
    w.put(DCM_AcquisitionTimeSynchronized, "N");
    w.put(DCM_NumberOfFrames, "1");
    ds->putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_FrameTime);
    w.put(DCM_FrameTime, "0");
    if (photo.mmPerPixel > 0) {
        const OFString s = number(photo.mmPerPixel);
        w.put(DCM_PixelSpacing, (s + "\\" + s).c_str());
    }
    putAcquisitionContext(w);
    putCode(ds, DCM_AcquisitionDeviceTypeCodeSequence, "111946", "DCM", "Reflection-based corneal topographer");
    emptySequence(ds, DCM_IlluminationTypeCodeSequence);
    emptySequence(ds, DCM_LightPathFilterTypeStackCodeSequence);
    emptySequence(ds, DCM_ImagePathFilterTypeStackCodeSequence);
    emptySequence(ds, DCM_LensesCodeSequence);
    w.empty(DCM_DetectorType);

    E_TransferSyntax syntax = EXS_LittleEndianExplicit;
    w.us(DCM_BitsAllocated, 8);
    w.us(DCM_BitsStored, 8);
    w.us(DCM_HighBit, 7);
    w.us(DCM_PixelRepresentation, 0);
    if (useJpeg) {
        syntax = EXS_JPEGProcess1;
        w.us(DCM_Rows, frame.height);
        w.us(DCM_Columns, frame.width);
        w.us(DCM_SamplesPerPixel, frame.components);
        if (frame.components == 1) {
            w.put(DCM_PhotometricInterpretation, "MONOCHROME2");
            w.put(DCM_PresentationLUTShape, "IDENTITY");
        } else {
            w.put(DCM_PhotometricInterpretation, frame.subsampled ? "YBR_FULL_422" : "YBR_FULL");
            w.us(DCM_PlanarConfiguration, 0);
        }
        w.put(DCM_LossyImageCompression, "01");
        const double ratio = double(frame.width) * frame.height * frame.components / photo.jpeg.size();
        w.put(DCM_LossyImageCompressionRatio, number(ratio).c_str());
        w.put(DCM_LossyImageCompressionMethod, "ISO_10918_1");
        auto* pixels = new DcmPixelData(DCM_PixelData);
        auto* sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
        sequence->insert(new DcmPixelItem(DCM_PixelItemTag));  // empty offset table: one frame
        OFList<Uint32> offsets;
        w.ok = w.ok && sequence
                           ->storeCompressedFrame(offsets, reinterpret_cast<Uint8*>(const_cast<char*>(photo.jpeg.constData())),
                                                  Uint32(photo.jpeg.size()), 0)
                           .good();
        pixels->putOriginalRepresentation(EXS_JPEGProcess1, nullptr, sequence);
        w.ok = w.ok && ds->insert(pixels, true).good();
    } else {
        const bool grey = photo.image.isGrayscale();
        const QImage img = photo.image.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        const int spp = grey ? 1 : 3, rowBytes = img.width() * spp;
        w.us(DCM_Rows, img.height());
        w.us(DCM_Columns, img.width());
        w.us(DCM_SamplesPerPixel, spp);
        w.put(DCM_PhotometricInterpretation, grey ? "MONOCHROME2" : "RGB");
        if (grey)
            w.put(DCM_PresentationLUTShape, "IDENTITY");
        else
            w.us(DCM_PlanarConfiguration, 0);
        w.put(DCM_LossyImageCompression, "00");
        QByteArray data(qsizetype(rowBytes) * img.height() + ((rowBytes * img.height()) & 1), '\0');
        for (int y = 0; y < img.height(); ++y) memcpy(data.data() + qsizetype(y) * rowBytes, img.constScanLine(y), rowBytes);
        w.ok = w.ok && ds->putAndInsertUint8Array(DCM_PixelData, reinterpret_cast<const Uint8*>(data.constData()),
                                                  unsigned(data.size()))
                           .good();
    }
    return save(w, folder, syntax, kPhotographClass, uid, written, error);
}

namespace {

void putFloat(DcmItem* item, const DcmTagKey& tag, double v) { item->putAndInsertFloat32(tag, Float32(v)); }

// The area the map has values for (mm²): its measured pixels.
double analyzedArea(const TopographyMap& map) {
    qsizetype measured = 0;
    for (char c : map.indices) {
        const int v = static_cast<unsigned char>(c);
        measured += v >= map.mapping.first && v <= map.mapping.last;
    }
    return double(measured) * map.mmPerPixel * map.mmPerPixel;
}

// The pupil found as a circle: its centre from the vertex (mm), its radius, and its outline as
// 36 points on the map (column, row, within the image).
void putPupil(Writer& w, const TopographyMap& map, QPointF centreMm, double radiusMm) {
    putFloat(w.ds, DCM_PupilCentroidXCoordinate, centreMm.x());
    putFloat(w.ds, DCM_PupilCentroidYCoordinate, centreMm.y());
    putFloat(w.ds, DCM_EquivalentPupilRadius, radiusMm);
    std::string outline;
    for (int i = 0; i < 36; ++i) {
        const double t = i * 10 * M_PI / 180;
        const double x = centreMm.x() + radiusMm * std::cos(t), y = centreMm.y() + radiusMm * std::sin(t);
        const long col = std::lround(std::clamp(map.analysis.vertexPixel.x() + x / map.mmPerPixel, 0.0, double(map.width)));
        const long row = std::lround(std::clamp(map.analysis.vertexPixel.y() - y / map.mmPerPixel, 0.0, double(map.height)));
        outline += (i ? "\\" : "") + std::to_string(col) + "\\" + std::to_string(row);
    }
    w.put(DCM_VerticesOfTheOutlineOfPupil, outline.c_str());
}

// Keratometry to the hundredth, as the screen and the report give it: a reader shown
// 43.000000000000014 D would wonder what the last digits mean.
double hundredth(double v) { return std::round(v * 100) / 100; }

void putKeratometric(DcmItem* ds, const DcmTagKey& sequence, double power, double axis) {
    DcmItem* item = nullptr;
    if (ds->findOrCreateSequenceItem(sequence, item, -2).good() && item) {
        item->putAndInsertFloat64(DCM_RadiusOfCurvature, hundredth(outside::kKeratometric / power));
        item->putAndInsertFloat64(DCM_KeratometricPower, hundredth(power));
        item->putAndInsertFloat64(DCM_KeratometricAxis, hundredth(axis));
    }
}

const char* mapTypeCode(MapType t) {
    switch (t) {
    case MapType::Axial: return "111940";
    case MapType::Tangential: return "111941";
    case MapType::Elevation: return "111943";
    case MapType::Refractive: return "111942";
    }
    return "111940";
}

const char* mapTypeMeaning(MapType t) {
    switch (t) {
    case MapType::Axial: return "Corneal axial power map";
    case MapType::Tangential: return "Corneal instantaneous power map";
    case MapType::Elevation: return "Corneal elevation map";
    case MapType::Refractive: return "Corneal refractive power map";
    }
    return "";
}

QString mapKey(MapType t) {
    switch (t) {
    case MapType::Axial: return QStringLiteral("axial");
    case MapType::Tangential: return QStringLiteral("tangencial");
    case MapType::Elevation: return QStringLiteral("elevação");
    case MapType::Refractive: return QStringLiteral("refrativo");
    }
    return {};
}

}  // namespace

bool writeTopographyMap(const Patient& patient, const Visit& visit, const TopographyMap& map, const QString& folder,
                        Written* written, QString* error) {
    if (!checkVisit(patient, visit, error)) return false;
    if (map.width < 1 || map.height < 1 || map.width > 4096 || map.height > 4096)
        return fail(error, QStringLiteral("O mapa está vazio ou tem um tamanho inválido (%1 × %2).")
                               .arg(map.width)
                               .arg(map.height));
    if (map.indices.size() != qsizetype(map.width) * map.height)
        return fail(error, QStringLiteral("O mapa deveria ter %1 pixels e tem %2.")
                               .arg(qsizetype(map.width) * map.height)
                               .arg(map.indices.size()));
    if (map.palette.isEmpty() || map.palette.size() > 256)
        return fail(error, QStringLiteral("A paleta de cores do mapa deve ter de 1 a 256 cores (tem %1).")
                               .arg(map.palette.size()));
    const ValueMapping& m = map.mapping;
    if (m.first < 0 || m.last > 255 || m.first > m.last || !std::isfinite(m.slope) || !std::isfinite(m.intercept))
        return fail(error, QStringLiteral("A correspondência entre cores e valores do mapa é inválida."));
    if (!(map.mmPerPixel > 0) || !std::isfinite(map.mmPerPixel))
        return fail(error, QStringLiteral("O tamanho do pixel do mapa (mm) não foi informado."));
    if (map.source.sopInstanceUid.isEmpty() || map.source.sopClassUid.isEmpty())
        return fail(error, QStringLiteral("O mapa não indica a foto de que foi medido."));
    const MapAnalysis& a = map.analysis;
    if (!(a.steepPower > 0) || !(a.flatPower > 0))
        return fail(error, QStringLiteral("A ceratometria simulada do mapa não foi informada."));

    const QString uid =
        stableUid({visit.installationId, visit.examCode, QStringLiteral("mapa"), mapKey(map.type), eyeKey(map.eye)});
    Writer w;
    const SeriesKind series = mapSeries(map.type);
    putCommon(w, patient, visit, kMapClass, uid, QString::fromUtf8(series.key), "OPM", series.number,
              QString::fromUtf8(series.description));
    w.put(DCM_InstanceNumber, instanceNumber(map.eye));
    DcmDataset* ds = w.ds;
    const QDateTime when = visit.dateTime.isValid() ? visit.dateTime : QDateTime::currentDateTime();
    w.put(DCM_AcquisitionDateTime, when.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1());
    // No Referenced Performed Procedure Step: this station keeps no procedure steps, and an
    // empty sequence would claim one.
    w.put(DCM_BodyPartExamined, "EYE");

    // Both eyes of the visit are measured in the same instrument geometry, each on its own.
    w.put(DCM_FrameOfReferenceUID,
          stableUid({visit.installationId, visit.examCode, QStringLiteral("referência"), eyeKey(map.eye)}).toLatin1());
    w.empty(DCM_PositionReferenceIndicator);

    w.put(DCM_ImageType, "DERIVED\\PRIMARY");
    w.put(DCM_ImageLaterality, laterality(map.eye));
    putCode(ds, DCM_AnatomicRegionSequence, "81745001", "SCT", "Eye");
    w.put(DCM_BurnedInAnnotation, "NO");
    // A cornea's topography identifies its owner like a fingerprint: the standard allows YES only.
    w.put(DCM_RecognizableVisualFeatures, "YES");
    w.put(DCM_LossyImageCompression, "00");
    w.empty(DCM_PatientOrientation);
    const OFString spacing = number(map.mmPerPixel);
    w.put(DCM_PixelSpacing, (spacing + "\\" + spacing).c_str());
    w.put(DCM_PixelAspectRatio, "1\\1");
    w.put(DCM_OphthalmicMappingDeviceType, "REFLECTION");  // Placido rings
    w.put(DCM_CornealTopographySurface, "A");
    putCode(ds, DCM_CornealTopographyMapTypeCodeSequence, mapTypeCode(map.type), "DCM", mapTypeMeaning(map.type));
    putCode(ds, DCM_AcquisitionDeviceTypeCodeSequence, "111946", "DCM", "Reflection-based corneal topographer");

    DcmItem* source = nullptr;
    if (ds->findOrCreateSequenceItem(DCM_SourceImageSequence, source, -2).good() && source) {
        source->putAndInsertString(DCM_ReferencedSOPClassUID, map.source.sopClassUid.toLatin1().constData());
        source->putAndInsertString(DCM_ReferencedSOPInstanceUID, map.source.sopInstanceUid.toLatin1().constData());
        putCode(source, DCM_PurposeOfReferenceCodeSequence, "121322", "DCM",
                "Source image for image processing operation");
    } else {
        w.ok = false;
    }

    putAcquisitionContext(w);

    // Pixels: palette indices, drawn through the map window's colours.
    w.us(DCM_Rows, map.height);
    w.us(DCM_Columns, map.width);
    w.us(DCM_SamplesPerPixel, 1);
    w.put(DCM_PhotometricInterpretation, "PALETTE COLOR");
    w.us(DCM_BitsAllocated, 8);
    w.us(DCM_BitsStored, 8);
    w.us(DCM_HighBit, 7);
    w.us(DCM_PixelRepresentation, 0);
    // Always 256 entries, the palette's last colour repeated: what a value past the end would
    // show anyway, and some viewers (Orthanc among them) draw no shorter palette.
    const int entries = 256;
    const struct {
        DcmTagKey descriptor, data;
        int (*channel)(QRgb);
    } channels[] = {{DCM_RedPaletteColorLookupTableDescriptor, DCM_RedPaletteColorLookupTableData, qRed},
                    {DCM_GreenPaletteColorLookupTableDescriptor, DCM_GreenPaletteColorLookupTableData, qGreen},
                    {DCM_BluePaletteColorLookupTableDescriptor, DCM_BluePaletteColorLookupTableData, qBlue}};
    for (const auto& c : channels) {
        const Uint16 descriptor[3] = {Uint16(entries), 0, 16};
        w.ok = w.ok && ds->putAndInsertUint16Array(c.descriptor, descriptor, 3).good();
        std::vector<Uint16> lut(entries);
        for (int i = 0; i < entries; ++i)
            lut[i] = Uint16(c.channel(map.palette[std::min(i, int(map.palette.size()) - 1)]) * 257);
        w.ok = w.ok && ds->putAndInsertUint16Array(c.data, lut.data(), unsigned(entries)).good();
    }
    QByteArray pixels = map.indices;
    if (pixels.size() & 1) pixels.append('\0');
    w.ok = w.ok &&
           ds->putAndInsertUint8Array(DCM_PixelData, reinterpret_cast<const Uint8*>(pixels.constData()), unsigned(pixels.size()))
               .good();

    // What each index stands for.
    DcmItem* rw = nullptr;
    if (ds->findOrCreateSequenceItem(DCM_RealWorldValueMappingSequence, rw, -2).good() && rw) {
        rw->putAndInsertUint16(DCM_RealWorldValueFirstValueMapped, Uint16(m.first));
        rw->putAndInsertUint16(DCM_RealWorldValueLastValueMapped, Uint16(m.last));
        rw->putAndInsertFloat64(DCM_RealWorldValueIntercept, m.intercept);
        rw->putAndInsertFloat64(DCM_RealWorldValueSlope, m.slope);
        const bool dioptres = m.unit == MapUnit::Dioptres;
        rw->putAndInsertString(DCM_LUTExplanation, dioptres ? "Poder corneano (D)" : "Elevação (µm)");
        rw->putAndInsertString(DCM_LUTLabel, text(m.label, 16).constData());
        putCode(rw, DCM_MeasurementUnitsCodeSequence, dioptres ? "[diop]" : "um", "UCUM",
                dioptres ? "diopter" : "micrometer");
    } else {
        w.ok = false;
    }

    // The analysis: vertex, pupil, simulated keratometry and the asymmetry indices.
    const float vertex[2] = {float(a.vertexPixel.x()), float(a.vertexPixel.y())};
    w.ok = w.ok && ds->putAndInsertFloat32Array(DCM_CornealVertexLocation, vertex, 2).good();
    // The pupil when the processing found one. Otherwise its attributes are left out: an empty
    // value is no more valid than none, and a made-up one would mislead.
    if (a.pupilCentroidMm && a.pupilRadiusMm) putPupil(w, map, *a.pupilCentroidMm, *a.pupilRadiusMm);
    // No Corneal Topography Mapping Normals Sequence: no normative database is used.
    if (a.maxPower) {
        DcmItem* item = nullptr;
        if (ds->findOrCreateSequenceItem(DCM_MaximumCornealCurvatureSequence, item, -2).good() && item) {
            putFloat(item, DCM_MaximumCornealCurvature, *a.maxPower);
            const float at[2] = {float(a.maxLocationPixel.x()), float(a.maxLocationPixel.y())};
            item->putAndInsertFloat32Array(DCM_MaximumCornealCurvatureLocation, at, 2);
        }
    }
    putKeratometric(ds, DCM_SteepKeratometricAxisSequence, a.steepPower, a.steepAxis);
    putKeratometric(ds, DCM_FlatKeratometricAxisSequence, a.flatPower, a.flatAxis);
    if (a.minimumPower && a.minimumAxis && *a.minimumPower > 0)
        putKeratometric(ds, DCM_MinimumKeratometricSequence, *a.minimumPower, *a.minimumAxis);
    putFloat(ds, DCM_AnalyzedArea, analyzedArea(map));
    // The cylinder in minus notation: flat minus steep power, along the flat axis.
    DcmItem* cylinder = nullptr;
    if (ds->findOrCreateSequenceItem(DCM_SimulatedKeratometricCylinderSequence, cylinder, -2).good() && cylinder) {
        cylinder->putAndInsertFloat64(DCM_KeratometricPower, hundredth(a.flatPower) - hundredth(a.steepPower));
        cylinder->putAndInsertFloat64(DCM_KeratometricAxis, hundredth(a.flatAxis));
    }
    putFloat(ds, DCM_AverageCornealPower, hundredth(0.5 * (a.steepPower + a.flatPower)));
    if (a.inferiorSuperior && std::isfinite(*a.inferiorSuperior)) putFloat(ds, DCM_CornealISValue, *a.inferiorSuperior);
    if (a.sri && std::isfinite(*a.sri)) putFloat(ds, DCM_SurfaceRegularityIndex, *a.sri);
    if (a.sai && std::isfinite(*a.sai)) putFloat(ds, DCM_SurfaceAsymmetryIndex, *a.sai);

    return save(w, folder, EXS_LittleEndianExplicit, kMapClass, uid, written, error);
}

bool writeReport(const Patient& patient, const Visit& visit, const PdfReport& report, const QString& folder,
                 Written* written, QString* error) {
    if (!checkVisit(patient, visit, error)) return false;
    if (!report.pdf.startsWith("%PDF-"))
        return fail(error, QStringLiteral("O relatório não é um arquivo PDF (falta o cabeçalho \"%PDF\")."));
    const QString eye = report.eye ? eyeKey(*report.eye) : QStringLiteral("AO");
    const QString uid = stableUid({visit.installationId, visit.examCode, QStringLiteral("relatório"), report.key, eye});
    Writer w;
    putCommon(w, patient, visit, kPdfClass, uid, QString::fromUtf8(kReportSeries.key), "DOC", kReportSeries.number,
              QString::fromUtf8(kReportSeries.description));
    w.put(DCM_InstanceNumber, report.eye ? instanceNumber(*report.eye) : "1");
    const QDateTime when = visit.dateTime.isValid() ? visit.dateTime : QDateTime::currentDateTime();
    w.put(DCM_AcquisitionDateTime, when.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1());
    w.put(DCM_ConversionType, "WSD");
    w.put(DCM_BurnedInAnnotation, "YES");  // the report prints the patient's name
    w.put(DCM_DocumentTitle, text(report.title, 1024));
    emptySequence(w.ds, DCM_ConceptNameCodeSequence);
    w.put(DCM_MIMETypeOfEncapsulatedDocument, "application/pdf");
    QByteArray bytes = report.pdf;
    w.ok = w.ok && w.ds->putAndInsertUint32(DCM_EncapsulatedDocumentLength, Uint32(bytes.size())).good();
    if (bytes.size() & 1) bytes.append('\0');  // even length; the length above is the true one
    w.ok = w.ok && w.ds->putAndInsertUint8Array(DCM_EncapsulatedDocument, reinterpret_cast<const Uint8*>(bytes.constData()),
                                                 unsigned(bytes.size()))
                       .good();
    return save(w, folder, EXS_LittleEndianExplicit, kPdfClass, uid, written, error);
}

}  // namespace norvix::dicom
