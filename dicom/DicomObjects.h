#pragma once
// The exam as DICOM objects for the clinic's PACS: per visit one study holding, per eye, the
// central ring photograph, the colour-coded curvature map and, when saved, the report PDF.
// Nothing here reads the database: the caller hands over everything written.
//
// Every object is written with DCMTK in UTF-8 ("ISO_IR 192"), into a file named after its SOP
// Instance UID in the folder given, through a temporary file renamed into place, so a PACS
// gateway polling the folder never picks up half a file. The UIDs are derived from the
// installation, the visit and the object (see stableUid), so sending an exam again replaces
// the objects already stored instead of duplicating them.
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QString>
#include <QVector>
#include <QRgb>
#include <optional>

namespace norvix::dicom {

enum class Eye { Right, Left };

// A patient ID and the authority that gave it (Issuer of Patient ID; empty: none said).
struct IssuedId {
    QString id, issuer;
    bool operator==(const IssuedId&) const = default;
};

struct Patient {
    QString id;
    QString fullName;  // as registered, e.g. "João Ávila da Conceição"
    QDate birthDate;   // left empty when not valid
    QString sex;       // "M", "F" or "O"; anything else is left empty
    QString issuer;    // Issuer of Patient ID; left out when empty. The visit's installation
                       // identity is written with its qualifier (a UUID)
    QList<IssuedId> otherIds;  // Other Patient IDs Sequence: the patient's further identities
};

// The equipment named in every object.
struct Equipment {
    QString manufacturer = QStringLiteral("Norvix");
    QString model = QStringLiteral("Norvix");
    QString serialNumber;  // empty: the installation identity stands in
    QString softwareVersion;  // empty: this program's version
};

// The RIS's order the visit was taken for (a worklist item), so the RIS can close it.
struct Order {
    QString accessionNumber;
    QString studyInstanceUid;  // the RIS's; empty when it gave none
    QString requestedProcedureId, requestedProcedureDescription;
    QString scheduledStepId;
};

struct Visit {
    QString installationId;  // identity of this installation, never changed once set
    QString examCode;        // the visit's key: the same key always gives the same study
    QDateTime dateTime;      // when the exam was taken (local time)
    QString stationName, institution;
    QString referringPhysician;  // full name as registered, a title first ("Dra. Ana Prado") allowed
    Equipment equipment;
    QString studyUid;  // empty: derived from the installation and the key
    std::optional<Order> order;
};

// A reference to an object already written (the map names the photograph it comes from).
struct InstanceRef {
    QString sopClassUid, sopInstanceUid;
};

// The central ring picture of one eye: the stored JPEG when there is one (a baseline 8-bit JPEG,
// kept as it is, without compressing again), otherwise the image, written uncompressed.
struct Photograph {
    Eye eye = Eye::Right;
    QByteArray jpeg;
    QImage image;
    double mmPerPixel = 0;  // at the corneal plane; not positive: the picture is not calibrated
    // Empty for the ring photograph. Otherwise a picture derived from another exam of the visit
    // (the tear film's break-time map): its own series and UIDs under this key, a DERIVED
    // image with this series description, acquired when that exam was recorded (invalid: the
    // visit's time).
    QString derivedKey;
    QString description;
    QDateTime acquired;
    // A derived picture's finding in words (the tear film's verdict and, when inconclusive, why),
    // so the PACS viewer reads it beside the picture; empty: none.
    QString comments;
};

enum class MapUnit { Dioptres, Micrometres };

// Pixel value p, for first <= p <= last, stands for intercept + slope * p in `unit`; pixels
// outside [first, last] carry no data (outside the measured zone).
struct ValueMapping {
    int first = 1, last = 26;
    double intercept = 0, slope = 1;
    MapUnit unit = MapUnit::Dioptres;
    QString label = QStringLiteral("CURVATURA AXIAL");  // up to 16 characters
};

// Figures of the analysis module; the optional ones are left out when absent.
struct MapAnalysis {
    QPointF vertexPixel;  // corneal vertex on the map (column, row, in pixels)
    std::optional<QPointF> pupilCentroidMm;  // from the vertex, x to the right, y upwards
    std::optional<double> pupilRadiusMm;   // the pupil as a circle; left out, both, when not found
    double steepPower = 0, steepAxis = 0;  // simulated keratometry (D, degrees)
    double flatPower = 0, flatAxis = 0;
    // The meridian whose mean power over the central 3 mm is lowest (D, degrees 1 to 180).
    std::optional<double> minimumPower, minimumAxis;
    std::optional<double> maxPower;        // steepest point of the map (D) ...
    QPointF maxLocationPixel;              // ... and where it is (column, row)
    std::optional<double> inferiorSuperior, sai, sri;
};

enum class MapSurface { Anterior };
enum class MapType { Axial, Tangential, Elevation, Refractive };

// One colour-coded map: 8-bit palette indices, row by row from the top, the palette they index
// (the map window's colours) and what each index stands for.
struct TopographyMap {
    Eye eye = Eye::Right;
    MapType type = MapType::Axial;
    int width = 0, height = 0;
    QByteArray indices;      // width * height bytes
    QVector<QRgb> palette;   // 1 to 256 entries; index i is drawn in palette[i] (written as 256, the last repeated)
    ValueMapping mapping;
    double mmPerPixel = 0;   // must be positive
    MapAnalysis analysis;
    InstanceRef source;      // the photograph the map was measured on
};

struct PdfReport {
    QByteArray pdf;  // the saved report, as it is
    std::optional<Eye> eye;  // none: the report covers both eyes
    QString key;             // tells apart two reports of one visit (e.g. the layout's name)
    QString title = QStringLiteral("Relatório de topografia corneana");
};

// What a write produced.
struct Written {
    QString sopClassUid, sopInstanceUid, filePath;
};

// The referring physician's name: as personName, with the titles the name starts with (Dr.,
// Dra., Prof., Profa. ...) as the prefix component, "Dra. Ana Luíza Prado" -> "Prado^Ana Luíza^^Dra.".
QString physicianName(const QString& fullName);

// Patient's Name as a PACS sorts it, "family^given" (just "family" when there is one word):
// the family name is the last word with the particles (da, de, do, das, dos, e, d') right
// before it; a last word Filho, Filha, Júnior, Junior, Jr., Neto, Neta, Sobrinho or Sobrinha
// goes with the surname before it, "José da Silva Filho" -> "da Silva Filho^José". The first
// word always stays a given name when there are two or more. Spaces are collapsed, the
// delimiters ^ = \ are dropped, letters are kept as typed.
QString personName(const QString& fullName);

// "2.25." and the decimal value of a name-based UUID (SHA-1, version 5) of the parts joined:
// the same parts always give the same UID.
QString stableUid(const QStringList& parts);

// The Study Instance UID of the visit: its own when given, otherwise derived from the
// installation and the visit's key.
QString studyUidOf(const Visit& visit);

// Each writes one object into `folder` and fills `written`; false, with the reason in
// Portuguese and no file left behind, when the input or the folder does not allow it.
bool writePhotograph(const Patient& patient, const Visit& visit, const Photograph& photo, const QString& folder,
                     Written* written, QString* error);
bool writeTopographyMap(const Patient& patient, const Visit& visit, const TopographyMap& map, const QString& folder,
                        Written* written, QString* error);
bool writeReport(const Patient& patient, const Visit& visit, const PdfReport& report, const QString& folder,
                 Written* written, QString* error);

}  // namespace norvix::dicom
