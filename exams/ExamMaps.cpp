#include "ExamMaps.h"

#include <QBuffer>
#include <QDate>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "UfrmExames.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/ui/MessageSeam.h"
#include "records/UArquivosExame.h"
#include "records/UBJpeg.h"
#include "records/UDArquivos.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "reports/UBMapOperation.h"

namespace norvix {

const QString TExamMaps::kHalden = QStringLiteral("Halden.so");
const QString TExamMaps::kSorvik = QStringLiteral("Sorvik.so");
const QString TExamMaps::kTruvan = QStringLiteral("Truvan.so");
const QString TExamMaps::kQuessel = QStringLiteral("Quessel.so");
const QString TExamMaps::kAmbrel = QStringLiteral("Ambrel.so");
const QString TExamMaps::kFennic = QStringLiteral("Fennic.so");

namespace {

const QString kInformacao = QStringLiteral("Informação");
const QString kNaoProcessou = QStringLiteral("Não foi possível processar o mapa selecionado. ");

// A multi-map exam whose files cannot be read.
void showNotFound(QWidget* parent) {
    norvix::showMessage(QStringLiteral("Não foi encontrado um dos exames. Não é possível continuar."),
                        QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, parent);
}

QString eyeText(bool right) { return right ? QStringLiteral("Olho Direito") : QStringLiteral("Olho Esquerdo"); }

QString dateText(const QDate& d) { return d.toString(QStringLiteral("dd/MM/yyyy")); }
QString timeText(const QTime& t) { return t.toString(QStringLiteral("HH:mm:ss")); }

// The wait window stays up only as long as the operation: hidden on every way out.
class WaitWindow {
public:
    explicit WaitWindow(TfrmExames& browser, bool timer = false) : browser_(browser) {
        browser_.showWait();
        if (timer) browser_.startWaitTimer();
    }
    ~WaitWindow() { browser_.hideWait(); }

private:
    TfrmExames& browser_;
};

// The ring count (and the cone type) of the configuration record, put back on every way out.
class SavedRecord {
public:
    SavedRecord() : rings_(infos().NumAneis), cone_(norvix::recordText(infos().TipoCone)) {}
    ~SavedRecord() {
        infos().NumAneis = rings_;
        norvix::setRecordText(infos().TipoCone, cone_);
    }

private:
    uint8_t rings_;
    QString cone_;
};

// Reads the files of a stored exam (exams folder/patient/exam) into the loader, which shows
// its own message for a missing file; prefix receives where they lie.
bool loadStoredExam(const norvix::TExame& exam, QString* prefix = nullptr) {
    try {
        const QString files = norvix::CaminhoArquivoExame(exam.paciente, exam.codigo, 'd').chopped(5);
        if (prefix) *prefix = files;
        return norvix::MapOperation().Load(files);
    } catch (const norvix::ArquivoExameError&) {
        return false;  // no exams folder in the settings
    }
}

QString examplePrefix(const QString& name) {
    return norvix::recordText(norvix::paths().Exemplos) + QLatin1Char('/') + name;
}

// An example item's name: its caption without "OD - " / "OS - "; an orthokeratology item whole.
QString exampleName(const QString& caption) {
    if (caption.startsWith(QLatin1String("OD - ")) || caption.startsWith(QLatin1String("OS - "))) return caption.mid(5);
    return caption;
}

bool isOrtoExample(const QString& caption) { return exampleName(caption).startsWith(QLatin1String("Orto")); }

// The header of a stored exam, from its patient's row and the exam: for one map (codes as
// "0000", the exam code, the confidence rounded) or for one exam of a multi-map
// (CabecalhoExame: the patient code as it is, the confidence as text).
QStringList storedExamHeader(const norvix::TExame& exam, bool multiMap) {
    const std::optional<norvix::TPaciente> patient = norvix::DPacientes().SelectPacienteByCodigo(exam.paciente);
    const int patientCode = exam.paciente;
    QStringList lines{
        patient ? patient->nome : QString(),
        multiMap ? QString::number(patientCode) : QStringLiteral("%1").arg(patientCode, 4, 10, QLatin1Char('0')),
        patient ? patient->rg : QString(),
        eyeText(exam.direito()),
        dateText(exam.data),
        timeText(exam.hora),
        exam.nomeMedico.isEmpty() ? norvix::DMedicos().SelectNomeByCodigo(exam.medico) : exam.nomeMedico};
    if (multiMap) {
        lines << QString::number(exam.indConf, 'g', 15);
    } else {
        lines << QStringLiteral("%1").arg(exam.codigo, 4, 10, QLatin1Char('0'))
              << QString::number(std::lround(exam.indConf));
    }
    return lines;
}

// The header of one example of a multi-map (CabecalhoExemplo): the date is the blank and the
// date that stand before the time at the end of its selection line.
QStringList multiMapExampleHeader(const QString& line, bool right) {
    const qsizetype l = line.size();
    return {QStringLiteral("Exemplo"),
            QStringLiteral("00"),
            QStringLiteral("00"),
            eyeText(right),
            l >= 20 ? line.mid(l - 20, 11) : QString(),
            QStringLiteral("00:00:00"),
            QStringLiteral("Dr. Norvix")};
}

// The picture Visualizar wrote, when it is a PNG image (told by its content, not trusted).
QImage smallMapPicture(const HostStream& stream) {
    QByteArray bytes = stream.data();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    if (QImageReader::imageFormat(&buffer) != "png") return {};
    buffer.seek(0);
    QImageReader reader(&buffer, "png");
    return reader.read();
}

}  // namespace

// ---- the process-wide multi-map arrays --------------------------------------------------------

struct TExamMaps::MultiMapArrays {
    int count = 0;
    std::unique_ptr<TMatrizAngAnel[]> m, d;
    std::unique_ptr<TMatrizAng[]> meridians;
    std::unique_ptr<TPupila[]> pupils;
    std::vector<std::unique_ptr<HostStream>> headers;
    std::vector<ModuleStream*> headerStreams;
    // One row of Sag, Div, Raio and a fourth value per exam, at least the four rows a module
    // of the second form reads.
    std::unique_ptr<double[][4]> ortho;

    void resize(int n) {
        count = n;
        m.reset(new TMatrizAngAnel[n]());
        d.reset(new TMatrizAngAnel[n]());
        meridians.reset(new TMatrizAng[n]());
        pupils.reset(new TPupila[n]());
        ortho.reset(new double[std::max(n, 4)][4]());
        headers.clear();
        headerStreams.clear();
        for (int i = 0; i < n; ++i) {
            headers.push_back(std::make_unique<HostStream>());
            headerStreams.push_back(headers.back()->moduleStream());
        }
    }
    // Element i: the exam loaded last and its header.
    void store(int i, const norvix::TBMapOperation& exam, const QStringList& header) {
        exam.CopiaM(m[i]);
        exam.CopiaD(d[i]);
        exam.CopiaMeridianos(meridians[i]);
        exam.CopiaPupila(pupils[i]);
        headers[i]->writeLines(header);
        headers[i]->rewind();
    }
};

TExamMaps::MultiMapArrays& TExamMaps::arrays() {
    static MultiMapArrays shared;
    return shared;
}

struct TExamMaps::MultiMapCall {
    explicit MultiMapCall(const QString& file) : module(file) {}
    QString module;
    TMultiMapBinding binding;
    HostStream options;
    bool secondWizard() const { return module == kAmbrel; }
    bool secondProcessa() const { return module == kFennic; }
};

// ---- construction -----------------------------------------------------------------------------

TExamMaps::TExamMaps(TfrmExames& browser) : browser_(browser) {}
TExamMaps::~TExamMaps() = default;

QString TExamMaps::modulePath(const QString& moduleFile) const {
    return norvix::recordText(norvix::paths().DirMapas) + QLatin1Char('/') + moduleFile;
}

QString TExamMaps::LinhaParaItem(const QString& line) {
    static const QString right = QStringLiteral("Olho Direito - "), left = QStringLiteral("Olho Esquerdo - ");
    if (line.startsWith(right)) return QStringLiteral("OD - ") + line.mid(right.size());
    if (line.startsWith(left)) return QStringLiteral("OS - ") + line.mid(left.size());
    return line;
}

// ---- the small map ----------------------------------------------------------------------------

void TExamMaps::MostraMiniMapa() {
    if (!browser_.examPanelVisible()) return;
    if (browser_.selectedItem() < 0 || browser_.shownExamCode() == 0) {
        norvix::showMessage(QStringLiteral("Selecione um exame."), kInformacao, MsgIcon::Error, MsgButtons::Ok,
                            &browser_);
        return;
    }
    // The exam the panel shows, read again by its code: another workstation may have deleted it.
    const std::optional<norvix::TExame> exam = norvix::DExames().SelectExameByCodigo(browser_.shownExamCode());
    if (!exam) {
        norvix::showMessage(QStringLiteral("Erro ao selecionar o exame."), QStringLiteral("Erro"), MsgIcon::Error,
                            MsgButtons::Ok, &browser_);
        return;
    }
    const int code = exam->codigo;
    if (code == browser_.smallMapExam()) return;

    // From here on the picture is this exam's or none: never another exam's.
    QLabel* picture = browser_.smallMapPicture();
    picture->clear();
    browser_.setSmallMapExam(-1);
    if (!loadStoredExam(*exam)) {
        norvix::showMessage(kNaoProcessou + QStringLiteral("1"), kInformacao, MsgIcon::Error, MsgButtons::Ok,
                            &browser_);
        return;
    }

    WaitWindow wait(browser_);
    TSingleMapBinding module;
    if (module.LoadModule(modulePath(kHalden))) {
        if (module.CanVisualizar()) {
            const norvix::TBMapOperation& data = norvix::MapOperation();
            HostStream image;
            TResultadoMapa result{};
            module.Visualizar(static_cast<QWidget*>(&browser_), image, nullptr, nullptr, data.CentroX(), data.CentroY(),
                              &data.M(), &data.Meridianos(), &data.D(), &data.Pupila(), &result, nullptr, &infos());
            QImage shown = smallMapPicture(image);
            if (!shown.isNull()) {
                const QSize room = picture->contentsRect().size();
                if (shown.width() > room.width() || shown.height() > room.height())
                    shown = shown.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                picture->setPixmap(QPixmap::fromImage(shown));
            }
        }
        module.ReleaseModule();
        browser_.setSmallMapExam(code);
    }

    const bool ticked = browser_.automaticSmallMap();
    if (ticked != (infos().AutoMiniMapa != 0)) {
        infos().AutoMiniMapa = ticked ? 1 : 0;
        if (TBIniSettings* settings = browser_.settings()) {
            try {
                settings->WriteParameter(QStringLiteral("Bool"), QStringLiteral("OPCOES"),
                                         QStringLiteral("AUTOMINIMAPA"), QString(), ticked);
            } catch (const norvix::SettingsWriteError& e) {
                norvix::showMessage(e.message(), QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok,
                                    &browser_);
            }
        }
    }
}

// ---- one map ----------------------------------------------------------------------------------

void TExamMaps::MapaClick(const QString& caption) {
    if (browser_.selectedTearFilmCode() > 0) {
        norvix::showMessage(QStringLiteral("O exame de filme lacrimal não tem mapas de curvatura; abra-o com um "
                                           "duplo clique para ver o seu mapa de ruptura."),
                            kInformacao, MsgIcon::Information, MsgButtons::Ok, &browser_);
        return;
    }
    if (browser_.selectedItem() < 0) {
        norvix::showMessage(QStringLiteral("Por favor, selecione um exame para que o mapa possa ser exibido."),
                            kInformacao, MsgIcon::Information, MsgButtons::Ok, &browser_);
        return;
    }
    MostraMapa(caption + QStringLiteral(".so"));
}

void TExamMaps::MostraMapa(const QString& moduleFile) {
    const QString caption = browser_.selectedCaption();
    if (browser_.examplesMode()) {
        const QString name = exampleName(caption);
        if (!norvix::MapOperation().Load(examplePrefix(name))) {
            norvix::showMessage(kNaoProcessou + QStringLiteral("ERROMAP02"), kInformacao, MsgIcon::Error,
                                MsgButtons::Ok, &browser_);
            return;
        }
        WaitWindow wait(browser_, true);
        HostStream header;
        header.writeLines({name, QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("Exemplo"),
                           QStringLiteral("01/01/01"), QStringLiteral("00:00:00"), QStringLiteral("Médico Teste")});
        header.rewind();
        ChamaModuloMapa(moduleFile, QStringLiteral("2"), nullptr, nullptr, 16, header);
        return;
    }

    const std::optional<norvix::TExame> exam = browser_.selectedExam();
    if (!exam) {
        norvix::showMessage(QStringLiteral("Erro ao selecionar o exame."), QStringLiteral("Erro"), MsgIcon::Error,
                            MsgButtons::Ok, &browser_);
        return;
    }
    QString prefix;
    if (!loadStoredExam(*exam, &prefix)) {
        norvix::showMessage(kNaoProcessou + QStringLiteral("ERROMAP03\r\rDiretorio: ") + prefix, kInformacao,
                            MsgIcon::Error, MsgButtons::Ok, &browser_);
        return;
    }
    WaitWindow wait(browser_, true);
    try {
        // The stored images, unpacked; one that is absent or does not unpack is no stream.
        QBuffer central, lateral;
        norvix::DArquivos().SelectImagensByExame(exam->codigo, central, lateral);
        std::unique_ptr<HostStream> front, side;
        if (norvix::TBJpeg().DescompactaImagem(central)) front = std::make_unique<HostStream>(central.data());
        if (norvix::TBJpeg().DescompactaImagem(lateral)) side = std::make_unique<HostStream>(lateral.data());
        HostStream header;
        header.writeLines(storedExamHeader(*exam, false));
        header.rewind();
        ChamaModuloMapa(moduleFile, exam->tipoCone, front ? front->moduleStream() : nullptr,
                        side ? side->moduleStream() : nullptr, exam->numAnel, header, &*exam);
    } catch (const std::exception&) {
        norvix::showMessage(QStringLiteral("Não foi possivel abrir o exame selecionado."), QStringLiteral("Atenção"),
                            MsgIcon::Warning, MsgButtons::Ok, &browser_);
    }
}

void TExamMaps::ChamaModuloMapa(const QString& moduleFile, const QString& cone, ModuleStream* front,
                                ModuleStream* lateral, int rings, HostStream& header, const norvix::TExame* exam) {
    const SavedRecord saved;
    // A count beyond the matrices (or none) would send a module past their end: such an exam
    // is shown with the configured count.
    const int usedRings = rings >= 1 && rings <= NORVIX_MAX_RINGS ? rings : infos().NumAneis;
    infos().NumAneis = static_cast<uint8_t>(usedRings);
    norvix::setRecordText(infos().TipoCone, cone);

    const norvix::TBMapOperation& data = norvix::MapOperation();
    void* window = static_cast<QWidget*>(&browser_);
    header.rewind();

    if (moduleFile == QLatin1String(TContactLensBinding::kFileName)) {
        TContactLensBinding lens;
        if (!lens.LoadModule(modulePath(moduleFile))) {
            browser_.hideWait();
            norvix::showMessage(kNaoProcessou + QStringLiteral("ERROMAP04"), kInformacao, MsgIcon::Error,
                                MsgButtons::Ok, &browser_);
            return;
        }
        lens.ProcessaLente(window, front, header, data.CentroX(), data.CentroY(), &data.M(), &data.Meridianos(),
                           &data.D(), &infos(), &norvix::paths());
        lens.ReleaseModule();
        return;
    }

    if (moduleFile == QLatin1String(TAberrometryBinding::kFileName)) {
        TAberrometryBinding& aberrometry = TAberrometryBinding::instance();
        if (!aberrometry.LoadModule(modulePath(moduleFile))) return;
        const TInfosQV& i = infos();
        // A module reads four texts: an empty one is "", never a null reference.
        const char* clinic[4] = {i.Nome ? i.Nome : "", i.Endereco ? i.Endereco : "", i.CidadeEst ? i.CidadeEst : "",
                                 i.Telefone ? i.Telefone : ""};
        aberrometry.ProcessaAberrometria(window, &data.M(), &data.D(), &data.Meridianos(), i.TipoCone ? i.TipoCone : "",
                                         i.NumAneis, i.InstrumentModel, 3.0, i.FatorCorrecao, i.Z0, 350, 350, 1, header,
                                         clinic);
        return;
    }

    TSingleMapBinding module;
    const bool bound = module.LoadModule(modulePath(moduleFile));
    // Which entry the exam takes; a module without it is treated as one that does not bind.
    const bool exampleOrto = !exam && browser_.examplesMode() && isOrtoExample(browser_.selectedCaption());
    const bool storedOrto = exam && (moduleFile == kHalden || moduleFile == kSorvik) && exam->ortoceratologia();
    // A map without the orthokeratology form (elevation, refractive) takes an orthokeratology
    // example as a topography, as it takes a stored orthokeratology exam.
    const bool orto = (exampleOrto && (!bound || module.ProcessaMapaOrto || !module.ProcessaMapa)) || storedOrto;
    if (!bound || (orto ? !module.ProcessaMapaOrto : !module.ProcessaMapa)) {
        module.ReleaseModule();
        browser_.hideWait();
        norvix::showMessage(kNaoProcessou + QStringLiteral("ERROMAP02"), kInformacao, MsgIcon::Error, MsgButtons::Ok,
                            &browser_);
        return;
    }
    if (orto) {
        // A stored exam takes its own values; an example those of the last orthokeratology
        // exam selected, as the browser holds them.
        TValoresOrto values = {browser_.sag(), browser_.div(), browser_.raio()};
        if (storedOrto && exam->orto) {
            values[0] = exam->orto->sag;
            values[1] = exam->orto->div;
            values[2] = exam->orto->raio;
        }
        module.ProcessaMapaOrto(window, exampleOrto ? nullptr : front, exampleOrto ? nullptr : lateral, data.CentroX(),
                                data.CentroY(), header, &data.M(), &data.Meridianos(), &data.D(), &data.Pupila(),
                                &values, &infos());
    } else {
        module.ProcessaMapa(window, front, lateral, data.CentroX(), data.CentroY(), header, &data.M(),
                            &data.Meridianos(), &data.D(), &data.Pupila(), &infos());
    }
    module.ReleaseModule();
}

// ---- multi-maps -------------------------------------------------------------------------------

void TExamMaps::MapasClick(const QString& caption) {
    if (browser_.itemCaptions().size() <= 1) {
        norvix::showMessage(QStringLiteral("Não há número suficiente de exames para gerar o mapa desejado."),
                            kInformacao, MsgIcon::Information, MsgButtons::Ok, &browser_);
        return;
    }
    if (browser_.examplesMode()) {
        MostraMapasExemplo(caption + QStringLiteral(".so"));
    } else {
        MostraMapas(caption + QStringLiteral(".so"));
    }
}

QStringList TExamMaps::runWizard(MultiMapCall& call, const QStringList& lines) {
    if (!call.binding.LoadModule(modulePath(call.module))) return {};
    HostStream list, selection;
    list.writeLines(lines);
    list.rewind();
    void* window = static_cast<QWidget*>(&browser_);
    const int32_t answer = call.secondWizard()
                               ? call.binding.WizardOrto(window, list, selection, call.options, 1, &infos())
                               : call.binding.Wizard(window, list, selection, call.options, &infos());
    if (answer != 1) {
        call.binding.ReleaseModule();
        return {};
    }
    // The chosen lines, blank ones left out; never more than were offered, so that a module
    // cannot make the host size its arrays without end.
    QStringList chosen;
    for (const QString& line : selection.lines(lines.size() * 2 + 16))
        if (!line.trimmed().isEmpty() && chosen.size() < lines.size()) chosen << line;
    if (chosen.isEmpty()) call.binding.ReleaseModule();
    return chosen;
}

void TExamMaps::callProcessaMapas(MultiMapCall& call, int count) {
    MultiMapArrays& a = arrays();
    void* window = static_cast<QWidget*>(&browser_);
    const TDadosPac headers{count, a.headerStreams.data()};
    const TMatrizesAngAnel m{count, a.m.get()}, d{count, a.d.get()};
    if (call.secondProcessa()) {
        call.binding.ProcessaMapasOrto(window, &headers, &m, &d, reinterpret_cast<const TTabelaOrto*>(a.ortho.get()),
                                       &infos());
    } else {
        const TMatrizesAng meridians{count, a.meridians.get()};
        const TMatPup pupils{count, a.pupils.get()};
        call.options.rewind();
        call.binding.ProcessaMapas(window, &headers, &m, &meridians, &d, &pupils, count, call.options, &infos());
    }
    call.binding.ReleaseModule();
}

void TExamMaps::MostraMapas(const QString& moduleFile) {
    // Each listed exam read by the code its item carries; the wizard's choice comes back as
    // captions, which lead to these values, never to wherever a cursor stands.
    const QStringList captions = browser_.itemCaptions();
    const QList<int> codes = browser_.itemCodes();
    QList<norvix::TExame> exams;
    QStringList lines;
    int right = 0, left = 0;
    bool invalid = false;
    for (qsizetype i = 0; i < captions.size(); ++i) {
        std::optional<norvix::TExame> exam =
            codes.value(i) > 0 ? norvix::DExames().SelectExameByCodigo(codes.value(i)) : std::nullopt;
        if (!exam) {
            norvix::showMessage(QStringLiteral("Erro ao processar exames para a visualização do mapa!"),
                                QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, &browser_);
            return;
        }
        exams << *exam;
        const bool orto = exam->ortoceratologia();
        QString line = eyeText(exam->direito()) + captions[i].mid(2);
        if (moduleFile == kTruvan || moduleFile == kQuessel) {
            if (orto) continue;
        } else if (moduleFile == kAmbrel) {
            line.prepend(QLatin1Char(orto ? 'O' : 'T'));
        } else if (moduleFile == kFennic) {
            if (!orto) continue;
            line.prepend(QLatin1Char('O'));
        } else {
            invalid = true;
            continue;
        }
        lines << line;
        ++(exam->direito() ? right : left);
    }
    if (invalid) {
        norvix::showMessage(QStringLiteral("Tipo de exame incorreto!\rEntre em contato com a assistência técnica"),
                            kInformacao, MsgIcon::Information, MsgButtons::Ok, &browser_);
        return;
    }
    const int most = std::max(right, left);
    const bool enough = moduleFile == kTruvan ? right >= 1 && left >= 1 : moduleFile == kAmbrel ? most >= 2 : most >= 3;
    if (!enough) {
        norvix::showMessage(QStringLiteral("Número insuficiente de exames para gerar o mapa desejado"), kInformacao,
                            MsgIcon::Information, MsgButtons::Ok, &browser_);
        return;
    }

    MultiMapCall call(moduleFile);
    const QStringList chosen = runWizard(call, lines);
    if (chosen.isEmpty()) return;
    WaitWindow wait(browser_, true);
    MultiMapArrays& a = arrays();
    a.resize(int(chosen.size()));
    for (int i = 0; i < a.count; ++i) {
        const qsizetype at = captions.indexOf(LinhaParaItem(chosen[i]));
        if (at < 0) {
            norvix::showMessage(QStringLiteral("Erro ao selecionar o exame!"), QStringLiteral("Erro"), MsgIcon::Error,
                                MsgButtons::Ok, &browser_);
            return;
        }
        const norvix::TExame& exam = exams[at];
        if (exam.orto) {
            a.ortho[i][0] = exam.orto->sag;
            a.ortho[i][1] = exam.orto->div;
            a.ortho[i][2] = exam.orto->raio;
        }
        if (!loadStoredExam(exam)) {
            showNotFound(&browser_);
            return;
        }
        a.store(i, norvix::MapOperation(), storedExamHeader(exam, true));
    }
    callProcessaMapas(call, a.count);
}

void TExamMaps::MostraMapasExemplo(const QString& moduleFile) {
    const SavedRecord saved;
    infos().NumAneis = 16;
    // The modules that take both exam kinds get a type letter before each line, and give their
    // choice back without it.
    const bool lettered = moduleFile == kAmbrel || moduleFile == kFennic;
    const QStringList captions = browser_.itemCaptions();
    QStringList lines;
    QDate day(2001, 1, 10);
    for (const QString& caption : captions) {
        // The orthokeratology examples are visits of one right eye; their captions carry no eye.
        QString line = eyeText(caption.startsWith(QLatin1String("OD")) || isOrtoExample(caption)) + QStringLiteral(" - ") + dateText(day) +
                       QStringLiteral(" 00:00:00");
        if (lettered) line.prepend(QLatin1Char(isOrtoExample(caption) ? 'O' : 'T'));
        lines << line;
        day = day.addDays(2);
    }

    MultiMapCall call(moduleFile);
    const QStringList chosen = runWizard(call, lines);
    if (chosen.isEmpty()) return;
    MultiMapArrays& a = arrays();
    a.resize(int(chosen.size()));
    for (int i = 0; i < a.count; ++i) {
        qsizetype from = -1;
        for (qsizetype j = 0; j < lines.size() && from < 0; ++j)
            if ((lettered ? lines[j].mid(1) : lines[j]) == chosen[i]) from = j;
        if (from < 0 || !norvix::MapOperation().Load(examplePrefix(exampleName(captions[from])))) {
            showNotFound(&browser_);
            return;
        }
        a.store(i, norvix::MapOperation(),
                multiMapExampleHeader(chosen[i], captions[from].startsWith(QLatin1String("OD")) ||
                                                     isOrtoExample(captions[from])));
    }
    callProcessaMapas(call, a.count);
}

}  // namespace norvix
