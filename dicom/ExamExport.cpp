#include "dicom/ExamExport.h"

#include <QBuffer>
#include <QFileInfo>
#include <QSet>
#include <QImageReader>
#include <algorithm>
#include <QRegularExpression>
#include <cmath>
#include <tuple>

#include "capture/sim/InstrumentModel.h"
#include "dicom/ExamVisit.h"
#include "dicom/TopographyGrid.h"
#include "outside/core/ExamFiles.h"
#include "outside/core/MapPainter.h"
#include "outside/core/SurfaceMaps.h"
#include "outside/math/CornealMap.h"
#include "platform/Errors.h"
#include "records/UArquivosExame.h"
#include "records/UDArquivos.h"
#include "records/UDExames.h"
#include "records/UDLagrima.h"
#include "records/UDLaudos.h"
#include "records/UDPacientes.h"
#include "records/UDPacientesRis.h"
#include "records/UDPedidosRis.h"
#include "records/UDVisitasDicom.h"
#include "records/UfrmDataModule.h"
#include "tearfilm/TearFilmMap.h"

namespace norvix::dicom {

namespace {

// The map grid: fine enough for the PACS viewer, small enough to write in a few milliseconds.
constexpr int kMapSize = 256;

Eye eyeOf(const TExame& e) { return e.direito() ? Eye::Right : Eye::Left; }

QString eyeName(const TExame& e) { return e.direito() ? QStringLiteral("direito") : QStringLiteral("esquerdo"); }

// A birth date registered as "dd/MM/yyyy" and plausible; anything else is left out.
QDate birthDate(const QString& text) {
    const QDate d = QDate::fromString(text.trimmed(), QStringLiteral("dd/MM/yyyy"));
    return d.isValid() && d.year() >= 1900 && d <= QDate::currentDate() ? d : QDate();
}

ExamOutcome failed(int code, const QString& why) { return {code, {}, why}; }

}  // namespace

IssuedId localPatientId(const QString& installationId, int patientCode) {
    QString tag = installationId;
    tag.remove(QRegularExpression(QStringLiteral("[^0-9A-Za-z]")));
    return {QStringLiteral("NORVIX-%1-%2").arg(tag.left(8).toUpper()).arg(patientCode), installationId};
}

// The one lookup of the links to the RIS the objects depend on.
QList<IssuedId> risIdentities(int patientCode) {
    if (!AvisoTabelaRis().isEmpty()) return {};
    // Oldest link first: the one the objects carry as Patient ID, the others as Other Patient IDs.
    QList<IssuedId> ids;
    for (const VinculoRis& v : DPacientesRis().Vinculos(patientCode)) ids << IssuedId{v.idRis, v.emissor};
    return ids;
}

QList<IssuedId> patientIdentities(const QString& installationId, int patientCode) {
    return risIdentities(patientCode) << localPatientId(installationId, patientCode);
}

QList<SentVisit> visitsSentUnderAnotherId(const QString& installationId, int patientCode) {
    const IssuedId now = patientIdentities(installationId, patientCode).first();
    QList<SentVisit> out;
    for (const TVisitaDicom& v : DVisitasDicom().DoPaciente(patientCode))
        if (!(IssuedId{v.idPaciente, v.emissor} == now)) out << SentVisit{v.visita, {v.idPaciente, v.emissor}, v.data};
    return out;
}

QString sentUnderAnotherIdQuestion(const QList<SentVisit>& visits, const IssuedId& now) {
    if (visits.isEmpty()) return {};
    QStringList ids, dates;
    for (const SentVisit& v : visits) {
        if (!ids.contains(v.sentAs.id)) ids << v.sentAs.id;
        const QString d = v.date.toString(QStringLiteral("dd/MM/yyyy"));
        if (!dates.contains(d)) dates << d;
    }
    const bool one = visits.size() == 1;
    return QStringLiteral("%1 deste paciente %2 ao PACS com o ID %3 (%4) e %5 com esse ID; as próximas vão com o ID "
                          "%6.\n\nPara que %7 o ID %6, exclua-%8 no PACS, responda Sim e envie-%8 de novo (Enviar ao "
                          "PACS, no navegador de exames).\n\nPassar %9 ao ID %6?")
        .arg(one ? QStringLiteral("Uma visita") : QStringLiteral("%1 visitas").arg(visits.size()),
             one ? QStringLiteral("já foi enviada") : QStringLiteral("já foram enviadas"), ids.join(QStringLiteral(", ")),
             dates.join(QStringLiteral(", ")), one ? QStringLiteral("continua") : QStringLiteral("continuam"), now.id,
             one ? QStringLiteral("ela passe a usar") : QStringLiteral("elas passem a usar"),
             one ? QStringLiteral("a") : QStringLiteral("as"),
             one ? QStringLiteral("essa visita") : QStringLiteral("essas visitas"));
}

int passVisitsToCurrentId(int patientCode) { return DVisitasDicom().Esquece(patientCode); }

ExamExport::ExamExport(Station station, ReportPrinter printReport)
    : station_(std::move(station)), printReport_(std::move(printReport)) {}

QList<ExamOutcome> ExamExport::writeVisit(int examCode, const QString& folder, VisitParts* parts) const {
    std::optional<TExame> exam;
    Patient patient;
    ExamVisit visit;
    QString doctor;
    try {
        exam = DExames().SelectExameByCodigo(examCode);
        if (!exam) return {failed(examCode, QStringLiteral("exame não encontrado."))};
        if (exam->ortoceratologia())
            return {failed(examCode, QStringLiteral("exame de ortoceratologia: só exames de topografia são exportados."))};
        const std::optional<TPaciente> p = DPacientes().SelectPacienteByCodigo(exam->paciente);
        if (!p) return {failed(examCode, QStringLiteral("o paciente do exame (código %1) não foi encontrado.").arg(exam->paciente))};
        const std::optional<TDadosPessoais> pessoais = DPacientes().SelectDadosPessoaisByCodigo(exam->paciente);
        patient.fullName = p->nome;
        if (pessoais) {
            patient.birthDate = birthDate(pessoais->dataNascimento);
            patient.sex = pessoais->sexo.trimmed().toUpper();
        }
        visit = visitOf(*exam, DExames().SelectExamesByPaciente(exam->paciente));
        // The study names the doctor of its first exam, whichever eye is sent.
        const int first = visit.exams.value(0).codigo;
        const std::optional<TExame> head = first == exam->codigo ? exam : DExames().SelectExameByCodigo(first);
        doctor = head ? head->nomeMedico : exam->nomeMedico;
    } catch (const std::exception& e) {
        return {failed(examCode, QStringLiteral("erro no banco de dados: %1").arg(QString::fromUtf8(e.what())))};
    }

    Visit v;
    v.installationId = station_.installationId;
    v.examCode = visit.key;
    v.dateTime = visit.start;
    v.stationName = station_.stationName;
    v.institution = station_.institution;
    v.referringPhysician = doctor;
    if (const QString why = identify(exam->paciente, visit, &patient, &v); !why.isEmpty())
        return {failed(examCode, why)};
    // The exam asked for first, then the other eye of its visit.
    QList<TExame> eyes{*exam};
    for (const TExame& e : visit.exams)
        if (e.codigo != exam->codigo) eyes << e;
    QList<ExamOutcome> outcomes;
    QSet<int> reports;  // a report on both eyes is one object: written with the first eye only
    for (const TExame& e : eyes) outcomes << writeEye(e, patient, v, folder, &reports);
    QList<int> films;
    writeTearFilms(exam->paciente, visit.start, patient, v, folder, &outcomes, &films);
    if (parts) {
        *parts = {exam->paciente, {}, films, reports.values()};
        for (const TExame& e : eyes) parts->exams << e.codigo;
        std::sort(parts->reports.begin(), parts->reports.end());
    }
    return outcomes;
}

QString ExamExport::identify(int patientCode, const ExamVisit& exams, Patient* patient, Visit* visit) const {
    if (station_.installationId.trimmed().isEmpty())  // the IDs and UIDs derive from it: nothing is fixed without it
        return QStringLiteral("a instalação não tem identidade DICOM.");
    try {
        // The order chosen for any exam of the sitting: an eye, or a tear film taken with them.
        QList<int> codes;
        for (const TExame& e : exams.exams) codes << e.codigo;
        if (AvisoTabelaLagrima().isEmpty())
            for (const TExameLagrima& e : DLagrima().SelectByPaciente(patientCode))
                if (std::abs(QDateTime(e.data, e.hora).secsTo(exams.start)) <= kSessionMinutes * 60) codes << e.codigo;
        const std::optional<TPedidoRis> order = DPedidosRis().DosExames(codes);
        if (order)
            visit->order = Order{order->accession, order->estudoUid, order->procedimentoId, order->procedimento, order->passoId};
        QList<IssuedId> ids = patientIdentities(station_.installationId, patientCode);
        // Taken for a worklist item: under the ID the item named, when it is one of the patient's.
        if (const qsizetype named = order ? ids.indexOf(IssuedId{order->idRis, order->emissor}) : -1; named > 0)
            ids.move(named, 0);
        const QDateTime now = QDateTime::currentDateTime();
        // The RIS's study, unless the RIS gave the same UID for another patient: that one would
        // file two people's exams as one study.
        QString study = studyUidOf(*visit);
        if (visit->order && !visit->order->studyInstanceUid.isEmpty() &&
            !DVisitasDicom().EstudoDeOutroPaciente(visit->order->studyInstanceUid, patientCode))
            study = visit->order->studyInstanceUid;
        // The first write of the visit fixes who it is about; every later one says the same.
        const TVisitaDicom sent = DVisitasDicom().Registra(
            {exams.key, patientCode, ids.first().id, ids.first().issuer, study, now.date(), now.time()});
        if (sent.paciente != patientCode)  // a key is an exam code: never another patient's
            return QStringLiteral("a visita %1 foi enviada como de outro paciente (código %2).").arg(exams.key).arg(sent.paciente);
        patient->id = sent.idPaciente;
        patient->issuer = sent.emissor;
        for (const IssuedId& id : ids)
            if (!(id == IssuedId{sent.idPaciente, sent.emissor})) patient->otherIds << id;
        visit->studyUid = sent.estudoUid;
    } catch (const std::exception& e) {
        return QStringLiteral("identidade do paciente: %1").arg(QString::fromUtf8(e.what()));
    }
    return {};
}

void ExamExport::writeTearFilms(int patientCode, const QDateTime& start, const Patient& patient, const Visit& visit,
                                const QString& folder, QList<ExamOutcome>* outcomes, QList<int>* written) const {
    // The tear film taken in the same sitting (within kSessionMinutes of the visit's start,
    // before or after it), the newest per eye, as its break-time map joined to that eye's outcome.
    QList<TExameLagrima> films;
    try {
        if (!AvisoTabelaLagrima().isEmpty()) return;
        for (const TExameLagrima& e : DLagrima().SelectByPaciente(patientCode)) {
            const qint64 apart = std::abs(QDateTime(e.data, e.hora).secsTo(start));
            if (apart > kSessionMinutes * 60) continue;
            if (std::none_of(films.cbegin(), films.cend(), [&](const TExameLagrima& f) { return f.olho == e.olho; }))
                if (const auto whole = DLagrima().SelectByCodigo(e.codigo)) films << *whole;
        }
    } catch (const std::exception& e) {
        // Left out, said; the topography of the visit still goes.
        outcomes->first().warnings << QStringLiteral("filme lacrimal: erro no banco de dados: %1").arg(QString::fromUtf8(e.what()));
        return;
    }
    for (const TExameLagrima& film : std::as_const(films)) {
        ExamOutcome* out = &outcomes->first();
        for (ExamOutcome& o : *outcomes)
            if (o.ok() && !o.written.isEmpty() && DExames().SelectExameByCodigo(o.examCode).value_or(TExame{}).olho == film.olho)
                out = &o;
        lagrima::TearFilmResult result;
        QString why;
        Photograph photo;
        photo.eye = film.direito() ? Eye::Right : Eye::Left;
        photo.derivedKey = QStringLiteral("lagrima");
        photo.acquired = QDateTime(film.data, film.hora);  // the recording's own time, not the visit's
        Written w;
        if (!film.result(&result, &why)) {
            out->warnings << QStringLiteral("filme lacrimal do olho %1 deixado de fora: %2").arg(film.olho, why);
            continue;
        }
        // The series says what it holds (it stays one series however often the film is taken
        // again); the picture's comments carry the verdict in the report's sentence, with its reason.
        photo.description = QStringLiteral("Filme lacrimal (NIBUT)");
        photo.comments = lagrima::reportSentence(result);
        photo.image = lagrima::drawBreakTimeMap(result, QSize(640, 480));
        if (!writePhotograph(patient, visit, photo, folder, &w, &why)) {
            out->warnings << QStringLiteral("filme lacrimal do olho %1 deixado de fora: %2").arg(film.olho, why);
        } else {
            out->written << w;
            written->append(film.codigo);
        }
    }
}

ExamOutcome ExamExport::writeEye(const TExame& exam, const Patient& patient, const Visit& visit,
                                 const QString& folder, QSet<int>* reportsWritten) const {
    ExamOutcome out{exam.codigo, {}, {}};
    Photograph photo;
    photo.eye = eyeOf(exam);
    try {
        QBuffer central, lateral;
        DArquivos().SelectImagensByExame(exam.codigo, central, lateral);
        photo.jpeg = central.data();
    } catch (const std::exception& e) {
        out.error = QStringLiteral("erro no banco de dados: %1").arg(QString::fromUtf8(e.what()));
        return out;
    }
    if (photo.jpeg.isEmpty()) {
        out.error = QStringLiteral("o exame (olho %1) não tem a imagem central gravada.").arg(eyeName(exam));
        return out;
    }
    // The instrument's pitch for the frame size stored; a frame of pixels not square is sent
    // without a spacing rather than with a wrong one.
    QBuffer jpegBuffer(&photo.jpeg);
    jpegBuffer.open(QIODevice::ReadOnly);
    const QSize frame = QImageReader(&jpegBuffer, "jpeg").size();
    if (frame.isValid()) {
        const sim::PixelPitch pitch = sim::InstrumentModel::pixelPitch(frame.width(), frame.height());
        photo.mmPerPixel = std::abs(pitch.x - pitch.y) < 1e-9 ? pitch.x : 0;
    }
    // The map is worked out before anything is written: an eye whose ring data cannot be read
    // leaves no photograph without its map behind.
    QList<TopographyMap> eyeMaps;
    if (!maps(exam, photo.mmPerPixel, &eyeMaps, &out.error)) return out;
    Written w;
    QString why;
    if (!writePhotograph(patient, visit, photo, folder, &w, &why)) {
        out.error = QStringLiteral("foto do olho %1: %2").arg(eyeName(exam), why);
        return out;
    }
    out.written << w;
    const InstanceRef source{w.sopClassUid, w.sopInstanceUid};
    for (TopographyMap& map : eyeMaps) {
        map.source = source;
        if (!writeTopographyMap(patient, visit, map, folder, &w, &why)) {
            out.error = QStringLiteral("mapa do olho %1: %2").arg(eyeName(exam), why);
            return out;
        }
        out.written << w;
    }
    writeReports(exam, patient, visit, folder, reportsWritten, &out);
    return out;
}

bool ExamExport::maps(const TExame& exam, double framePitchMm, QList<TopographyMap>* maps, QString* error) const {
    auto fail = [&](const QString& why) {
        *error = QStringLiteral("mapa do olho %1: %2").arg(eyeName(exam), why);
        return false;
    };
    QString why;
    outside::Topography rings;
    QString prefix;
    try {
        prefix = CaminhoArquivoExame(exam.paciente, exam.codigo, 'd').chopped(5);
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    if (!outside::readExamFiles(prefix, &rings, &why)) return fail(why);
    outside::CornealMap curvature;
    if (!curvature.load(&rings.d, &rings.m, &rings.found, rings.rings, &why)) return fail(why);
    // The power maps' scale as the map window chooses it, centred on the map's own middle.
    auto powerScale = [this](double centre) {
        return station_.fixedIncrement ? outside::ColourScale::fixedIncrement(station_.increment, centre)
                                       : outside::ColourScale::absolute();
    };
    TopographyMap axial;
    if (!axialTopography(curvature, powerScale(curvature.keratometry(outside::MapKind::Axial).meanPower()), kMapSize,
                         &axial, &why))
        return fail(why);
    axial.eye = eyeOf(exam);
    // The pupil as the processing found it on the frame, from the vertex reflection.
    const int32_t* pupil = rings.pupil;
    if (framePitchMm > 0 && pupil[2] > 0) {
        axial.analysis.pupilCentroidMm =
            QPointF((pupil[0] - rings.centreX) * framePitchMm, -(pupil[1] - rings.centreY) * framePitchMm);
        axial.analysis.pupilRadiusMm = pupil[2] * framePitchMm;
    }
    maps->append(axial);

    // The other maps, each when its module is installed: what the clinic sees is what it sends.
    // One the exam cannot give (an elevation needs 3 mm of surface) is left out, not an error.
    auto installed = [this](const char* module) {
        return !station_.mapsFolder.isEmpty() && QFileInfo(station_.mapsFolder + QLatin1Char('/') + QLatin1String(module)).isFile();
    };
    auto add = [&](MapType type, const std::function<double(double, double)>& value, const outside::ColourScale& scale) {
        TopographyMap m;
        if (!topography(type, value, curvature, scale, kMapSize, &m, &why)) return;
        m.eye = axial.eye;
        m.analysis.pupilCentroidMm = axial.analysis.pupilCentroidMm;
        m.analysis.pupilRadiusMm = axial.analysis.pupilRadiusMm;
        maps->append(m);
    };
    if (installed("Sorvik.so")) {
        add(MapType::Tangential,
            [&curvature](double r, double th) { return curvature.powerAt(outside::MapKind::Tangential, r, th); },
            powerScale(curvature.keratometry(outside::MapKind::Tangential).meanPower()));
    }
    // The refractive and elevation maps share the rebuilt surface, the costly part: built once,
    // the best-fit sphere and range taken again for the second.
    outside::SurfaceMapData surface;
    bool built = false;
    for (const auto& [module, type, kind] :
         {std::tuple{"Lumeva.so", MapType::Refractive, outside::SurfaceMapKind::Refractive},
          std::tuple{"Brennor.so", MapType::Elevation, outside::SurfaceMapKind::Elevation}}) {
        if (!installed(module)) continue;
        if (!(built ? surface.refit(kind, 0, &why, nullptr)
                    : surface.load(kind, &rings.d, &rings.m, &rings.found, rings.rings, &why)))
            break;  // a surface too small for one map is too small for the other
        built = true;
        const outside::ColourScale scale =
            kind == outside::SurfaceMapKind::Elevation
                ? outside::ColourScale::symmetric(std::max(std::abs(surface.lowest), std::abs(surface.highest)))
                : powerScale(0.5 * (surface.lowest + surface.highest));
        add(type, [&surface, kind = kind](double r, double th) { return surface.value(kind, r, th); }, scale);
    }
    return true;
}

void ExamExport::writeReports(const TExame& exam, const Patient& patient, const Visit& visit, const QString& folder,
                              QSet<int>* written, ExamOutcome* out) const {
    if (!printReport_) return;
    QList<TLaudo> reports;
    try {
        reports = DLaudos().SelectLaudosByExame(exam.codigo);
    } catch (const std::exception& e) {
        out->warnings << QStringLiteral("laudos do exame deixados de fora: erro no banco de dados: %1").arg(QString::fromUtf8(e.what()));
        return;
    }
    for (const TLaudo& r : reports) {
        if (written->contains(r.codigo)) continue;
        QString why;
        const std::optional<QByteArray> pdf = printReport_(r.codigo, &why);
        PdfReport report;
        if (pdf) {
            report.pdf = *pdf;
            // A report on both eyes is one object, whichever eye's export writes it.
            if (r.medidaOD <= 0 || r.medidaOS <= 0) report.eye = eyeOf(exam);
            report.key = QStringLiteral("laudo %1").arg(r.codigo);
        }
        Written w;
        if (!pdf || !writeReport(patient, visit, report, folder, &w, &why)) {
            out->warnings << QStringLiteral("laudo %1 deixado de fora: %2").arg(r.codigo).arg(why);
            continue;
        }
        out->written << w;
        written->insert(r.codigo);
    }
}

}  // namespace norvix::dicom
