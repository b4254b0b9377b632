#include "dicom/PacsClient.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QStringDecoder>
#include <memory>
#include <mutex>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/diutil.h>

namespace norvix::dicom {

namespace {

bool validAeTitle(const QString& ae) {
    if (ae.trimmed().isEmpty() || ae.size() > 16) return false;
    for (QChar c : ae)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e || c == u'\\') return false;
    return true;
}

QString where(const PacsPeer& p) { return QStringLiteral("%1:%2").arg(p.host).arg(p.port); }

// An open association and what it needs, released (or aborted) on the way out.
class Association {
public:
    ~Association() {
        if (assoc_) {  // it owns the parameters
            if (established_) {
                if (released_)
                    ASC_releaseAssociation(assoc_);
                else
                    ASC_abortAssociation(assoc_);
            }
            ASC_destroyAssociation(&assoc_);
        } else if (params_) {
            ASC_destroyAssociationParameters(&params_);
        }
        if (net_) ASC_dropNetwork(&net_);
    }

    // Contexts are added between begin() and open().
    bool begin(const PacsPeer& peer, QString* error) {
        peer_ = peer;
        const QString bad = checkPeer(peer);
        if (!bad.isEmpty()) return fail(error, bad);
        dcmConnectionTimeout.set(peer.timeoutSeconds);
        // DCMTK leaves Nagle's algorithm on unless this is set, and then every C-STORE waits on
        // the peer's delayed acknowledgement (50 to 100 ms per object even on loopback).
        if (!qEnvironmentVariableIsSet("TCP_NODELAY")) qputenv("TCP_NODELAY", "1");
        if (ASC_initializeNetwork(NET_REQUESTOR, 0, peer.timeoutSeconds, &net_).bad())
            return fail(error, QStringLiteral("Não foi possível iniciar a rede DICOM desta estação."));
        // A large PDU: fewer, larger writes for the pictures.
        if (ASC_createAssociationParameters(&params_, ASC_MAXIMUMPDUSIZE).bad())
            return fail(error, QStringLiteral("Não foi possível preparar a associação DICOM."));
        const QByteArray local = peer.localAeTitle.trimmed().toLatin1(), remote = peer.peerAeTitle.trimmed().toLatin1();
        ASC_setAPTitles(params_, local.constData(), remote.constData(), nullptr);
        const QByteArray address = QStringLiteral("%1:%2").arg(peer.host).arg(peer.port).toLatin1();
        ASC_setPresentationAddresses(params_, OFStandard::getHostName().c_str(), address.constData());
        return true;
    }

    // A context for `sopClass` offering `syntaxes`; 0 when none is left (at most 128).
    int propose(const char* sopClass, const QList<const char*>& syntaxes) {
        if (nextId_ > 255) return 0;
        const int id = nextId_;
        nextId_ += 2;
        std::vector<const char*> list(syntaxes.begin(), syntaxes.end());
        if (ASC_addPresentationContext(params_, id, sopClass, list.data(), int(list.size())).bad()) return 0;
        return id;
    }

    bool open(QString* error) {
        T_ASC_Parameters* params = params_;
        OFCondition cond = ASC_requestAssociation(net_, params, &assoc_);
        if (cond.bad()) {
            if (cond == DUL_ASSOCIATIONREJECTED) {
                T_ASC_RejectParameters rej;
                ASC_getRejectParameters(params, &rej);
                return fail(error, rejection(rej));
            }
            return fail(error, connectionFailure(cond));
        }
        established_ = true;
        if (ASC_countAcceptedPresentationContexts(params) == 0)
            return fail(error,
                        QStringLiteral("O PACS em %1 aceitou a conexão, mas não aceita nenhum dos tipos de objeto "
                                       "oferecidos por esta estação.")
                            .arg(where(peer_)));
        return true;
    }

    QString connectionFailure(const OFCondition& cond) const {
        const QString text = QString::fromLatin1(cond.text());
        if (cond == DUL_READTIMEOUT || text.contains(QStringLiteral("timed out"), Qt::CaseInsensitive) ||
            text.contains(QStringLiteral("timeout"), Qt::CaseInsensitive))
            return QStringLiteral(
                       "O PACS em %1 não respondeu em %2 s: verifique se o endereço e a porta são os do PACS.")
                .arg(where(peer_))
                .arg(peer_.timeoutSeconds);
        QString why = QStringLiteral("sem conexão");
        if (text.contains(QStringLiteral("refused"), Qt::CaseInsensitive))
            why = QStringLiteral("conexão recusada");
        else if (text.contains(QStringLiteral("unknown host"), Qt::CaseInsensitive))
            why = QStringLiteral("endereço desconhecido");
        else if (text.contains(QStringLiteral("unreachable"), Qt::CaseInsensitive) ||
                 text.contains(QStringLiteral("no route"), Qt::CaseInsensitive))
            why = QStringLiteral("rede inacessível");
        return QStringLiteral(
                   "O PACS não responde em %1 (%2). Verifique se o PACS está ligado e se o endereço e a porta "
                   "estão certos.")
            .arg(where(peer_), why);
    }

    QString rejection(const T_ASC_RejectParameters& rej) const {
        const QString later = rej.result == ASC_RESULT_REJECTEDTRANSIENT
                                  ? QStringLiteral(" A recusa é temporária: tente de novo mais tarde.")
                                  : QString();
        switch (rej.reason) {
            case ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED:
                return QStringLiteral(
                           "O PACS recusou a associação: verifique o título AE do PACS (\"%1\" não é reconhecido "
                           "em %2).")
                           .arg(peer_.peerAeTitle.trimmed(), where(peer_)) +
                       later;
            case ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED:
                return QStringLiteral(
                           "O PACS recusou a associação: verifique o título AE desta estação (\"%1\" não está "
                           "cadastrado no PACS).")
                           .arg(peer_.localAeTitle.trimmed()) +
                       later;
            case ASC_REASON_SP_PRES_TEMPORARYCONGESTION:
            case ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED:
                return QStringLiteral("O PACS em %1 está ocupado e recusou a associação. Tente de novo mais tarde.")
                    .arg(where(peer_));
            default:
                return QStringLiteral("O PACS em %1 recusou a associação (motivo 0x%2).")
                           .arg(where(peer_))
                           .arg(int(rej.reason), 4, 16, QChar(u'0')) +
                       later;
        }
    }

    T_ASC_Association* get() const { return assoc_; }
    void abort() { released_ = false; }
    void release() { released_ = true; }
    const PacsPeer& peer() const { return peer_; }

private:
    static bool fail(QString* error, const QString& why) {
        if (error) *error = why;
        return false;
    }
    PacsPeer peer_;
    T_ASC_Network* net_ = nullptr;
    T_ASC_Parameters* params_ = nullptr;
    T_ASC_Association* assoc_ = nullptr;
    int nextId_ = 1;
    bool established_ = false, released_ = false;
};

const QList<const char*> kUncompressed = {UID_LittleEndianExplicitTransferSyntax,
                                          UID_LittleEndianImplicitTransferSyntax};

bool isUncompressed(const QByteArray& ts) {
    return ts == UID_LittleEndianExplicitTransferSyntax || ts == UID_LittleEndianImplicitTransferSyntax ||
           ts == UID_BigEndianExplicitTransferSyntax;
}

struct FileHead {
    QByteArray sopClass, sopInstance, syntax;
    QString problem;
};

FileHead readHead(const QString& path) {
    FileHead h;
    if (!QFileInfo(path).isFile()) {
        h.problem = QStringLiteral("arquivo não encontrado");
        return h;
    }
    DcmFileFormat ff;
    const OFCondition cond =
        ff.loadFile(OFFilename(path.toUtf8().constData()), EXS_Unknown, EGL_noChange, 0, ERM_metaOnly);
    OFString cls, inst, ts;
    if (cond.good()) {
        ff.getMetaInfo()->findAndGetOFString(DCM_MediaStorageSOPClassUID, cls);
        ff.getMetaInfo()->findAndGetOFString(DCM_MediaStorageSOPInstanceUID, inst);
        ff.getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, ts);
    }
    if (cond.bad() || cls.empty() || inst.empty() || ts.empty()) {
        h.problem = QStringLiteral("não é um arquivo DICOM válido");
        return h;
    }
    h.sopClass = cls.c_str();
    h.sopInstance = inst.c_str();
    h.syntax = ts.c_str();
    return h;
}

QString statusText(Uint16 status) {
    switch (status) {
        case STATUS_STORE_Refused_OutOfResources: return QStringLiteral("o PACS está sem espaço (0xA700)");
        case STATUS_STORE_Refused_SOPClassNotSupported:
            return QStringLiteral("o PACS não aceita este tipo de objeto (0x0122)");
        default: return QStringLiteral("recusado pelo PACS (código 0x%1)").arg(status, 4, 16, QChar(u'0'));
    }
}

}  // namespace

QString checkPeer(const PacsPeer& peer) {
    if (!validAeTitle(peer.localAeTitle))
        return QStringLiteral("O título AE desta estação (\"%1\") deve ter de 1 a 16 caracteres, sem acentos nem \\.")
            .arg(peer.localAeTitle);
    if (!validAeTitle(peer.peerAeTitle))
        return QStringLiteral("O título AE do PACS (\"%1\") deve ter de 1 a 16 caracteres, sem acentos nem \\.")
            .arg(peer.peerAeTitle);
    if (peer.host.trimmed().isEmpty()) return QStringLiteral("Informe o endereço do PACS.");
    if (peer.port < 1 || peer.port > 65535)
        return QStringLiteral("A porta do PACS (%1) deve estar entre 1 e 65535.").arg(peer.port);
    if (peer.timeoutSeconds < 1) return QStringLiteral("O tempo de espera do PACS deve ser de pelo menos 1 segundo.");
    return {};
}

namespace {

bool echoPacs(const PacsPeer& peer, QString* answer) {
    QElapsedTimer clock;
    clock.start();
    Association a;
    if (!a.begin(peer, answer)) return false;
    a.propose(UID_VerificationSOPClass, {UID_LittleEndianImplicitTransferSyntax});
    if (!a.open(answer)) return false;
    DIC_US status = 0;
    DcmDataset* detail = nullptr;
    const OFCondition cond =
        DIMSE_echoUser(a.get(), a.get()->nextMsgID++, DIMSE_NONBLOCKING, peer.timeoutSeconds, &status, &detail);
    delete detail;
    if (cond.bad() || status != STATUS_Success) {
        if (answer)
            *answer = cond.bad() ? a.connectionFailure(cond)
                                 : QStringLiteral("O PACS em %1 respondeu ao teste com o código 0x%2.")
                                       .arg(where(peer))
                                       .arg(status, 4, 16, QChar(u'0'));
        return false;
    }
    a.release();
    if (answer)
        *answer = QStringLiteral("Conexão com o PACS bem-sucedida (%1 em %2, %3 ms).")
                      .arg(peer.peerAeTitle.trimmed(), where(peer))
                      .arg(clock.elapsed());
    return true;
}

// The answers are written for a PACS; another server (the worklist's) is named as it is.
void nameServer(const PacsPeer& peer, QString* text) {
    if (text && peer.serverName != QLatin1String("PACS")) text->replace(QStringLiteral("PACS"), peer.serverName);
}

}  // namespace

bool echo(const PacsPeer& peer, QString* answer) {
    const bool ok = echoPacs(peer, answer);
    nameServer(peer, answer);
    return ok;
}

bool send(const PacsPeer& peer, const QStringList& files, const SendProgress& progress, QList<StoreResult>* results,
          QString* error) {
    QList<StoreResult> local;
    QList<StoreResult>& out = results ? *results : local;
    out.clear();
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    QList<FileHead> heads;
    for (const QString& f : files) {
        heads.append(readHead(f));
        out.append({f, false, heads.last().problem});
    }
    if (files.isEmpty()) return true;  // nothing to store: nothing failed

    Association a;
    QString why;
    if (!a.begin(peer, &why)) {
        for (StoreResult& r : out)
            if (r.reason.isEmpty()) r.reason = why;
        return fail(why);
    }
    // One context per class and compressed syntax, and one uncompressed per class.
    QMap<QByteArray, bool> proposed;
    for (const FileHead& h : heads) {
        if (!h.problem.isEmpty()) continue;
        if (!isUncompressed(h.syntax) && !proposed.contains(h.sopClass + '|' + h.syntax)) {
            proposed[h.sopClass + '|' + h.syntax] = true;
            a.propose(h.sopClass.constData(), {h.syntax.constData()});
        }
        if (!proposed.contains(h.sopClass)) {
            proposed[h.sopClass] = true;
            a.propose(h.sopClass.constData(), kUncompressed);
        }
    }
    if (proposed.isEmpty()) return fail(QStringLiteral("Nenhum dos arquivos é um objeto DICOM que possa ser enviado."));
    if (!a.open(&why)) {
        for (StoreResult& r : out)
            if (r.reason.isEmpty()) r.reason = why;
        return fail(why);
    }

    int stored = 0;
    bool lost = false;
    static std::once_flag codecs;
    for (int i = 0; i < files.size(); ++i) {
        const FileHead& h = heads[i];
        StoreResult& r = out[i];
        if (!r.reason.isEmpty()) {
            if (progress) progress(i + 1, files.size());
            continue;
        }
        if (lost) {
            r.reason = QStringLiteral("não enviado: a conexão com o PACS caiu");
            continue;
        }
        const T_ASC_PresentationContextID id =
            ASC_findAcceptedPresentationContextID(a.get(), h.sopClass.constData(), h.syntax.constData());
        if (id == 0) {
            r.reason =
                QStringLiteral("o PACS não aceita este tipo de objeto (%1)").arg(QString::fromLatin1(h.sopClass));
            if (progress) progress(i + 1, files.size());
            continue;
        }
        T_ASC_PresentationContext pc;
        ASC_findAcceptedPresentationContext(a.get()->params, id, &pc);
        // The file goes as it is when the PACS took its syntax; otherwise it is decoded first.
        std::unique_ptr<DcmFileFormat> converted;
        if (h.syntax != pc.acceptedTransferSyntax) {
            std::call_once(codecs, [] { DJDecoderRegistration::registerCodecs(); });
            converted = std::make_unique<DcmFileFormat>();
            const E_TransferSyntax target = DcmXfer(pc.acceptedTransferSyntax).getXfer();
            if (converted->loadFile(OFFilename(files[i].toUtf8().constData())).bad() ||
                converted->getDataset()->chooseRepresentation(target, nullptr).bad() ||
                !converted->getDataset()->canWriteXfer(target)) {
                r.reason =
                    QStringLiteral("o PACS não aceita a compressão deste arquivo e ele não pôde ser descomprimido");
                if (progress) progress(i + 1, files.size());
                continue;
            }
        }
        T_DIMSE_C_StoreRQ req{};
        req.MessageID = a.get()->nextMsgID++;
        OFStandard::strlcpy(req.AffectedSOPClassUID, h.sopClass.constData(), sizeof req.AffectedSOPClassUID);
        OFStandard::strlcpy(req.AffectedSOPInstanceUID, h.sopInstance.constData(), sizeof req.AffectedSOPInstanceUID);
        req.DataSetType = DIMSE_DATASET_PRESENT;
        req.Priority = DIMSE_PRIORITY_MEDIUM;
        T_DIMSE_C_StoreRSP rsp{};
        DcmDataset* detail = nullptr;
        const QByteArray path = files[i].toUtf8();
        const OFCondition cond = DIMSE_storeUser(a.get(), id, &req, converted ? nullptr : path.constData(),
                                                 converted ? converted->getDataset() : nullptr, nullptr, nullptr,
                                                 DIMSE_NONBLOCKING, peer.timeoutSeconds, &rsp, &detail, nullptr,
                                                 converted ? 0 : long(QFileInfo(files[i]).size()));
        delete detail;
        if (cond.bad()) {
            r.reason = cond == DIMSE_READPDVFAILED || cond == DUL_READTIMEOUT || cond == DIMSE_NODATAAVAILABLE
                           ? QStringLiteral("o PACS não respondeu em %1 s").arg(peer.timeoutSeconds)
                           : QStringLiteral("a conexão com o PACS caiu (%1)").arg(QString::fromLatin1(cond.text()));
            lost = true;
        } else if (rsp.DimseStatus == STATUS_Success || DICOM_WARNING_STATUS(rsp.DimseStatus)) {
            r.stored = true;
            if (rsp.DimseStatus != STATUS_Success)
                r.reason =
                    QStringLiteral("guardado com aviso do PACS (código 0x%1)").arg(rsp.DimseStatus, 4, 16, QChar(u'0'));
            ++stored;
        } else {
            r.reason = statusText(rsp.DimseStatus);
        }
        if (progress) progress(i + 1, files.size());
    }
    if (lost)
        a.abort();
    else
        a.release();
    if (stored == files.size()) return true;
    QString first;
    for (const StoreResult& r : out)
        if (!r.stored) {
            first = QStringLiteral("%1: %2").arg(QFileInfo(r.file).fileName(), r.reason);
            break;
        }
    return fail(QStringLiteral("%1 de %2 arquivos não foram guardados pelo PACS em %3 (%4).")
                    .arg(files.size() - stored)
                    .arg(files.size())
                    .arg(where(peer), first));
}

// ---- worklist ----

QString readableName(const QString& dicomName) {
    const QStringList parts = dicomName.section(u'=', 0, 0).split(u'^');
    auto part = [&](int i) { return i < parts.size() ? parts[i].simplified() : QString(); };
    QStringList words;
    for (int i : {3, 1, 2, 0, 4})
        if (!part(i).isEmpty()) words << part(i);
    return words.join(u' ');
}

namespace {

enum class Charset { Utf8, Latin1 };

// The text as the PACS meant it: Latin-1 when declared; otherwise (UTF-8 declared, nothing
// declared or a set unknown to us) UTF-8 when the bytes are valid UTF-8 and Latin-1 when not,
// which is what older Brazilian systems send whatever they declare.
QString decode(const OFString& raw, Charset cs) {
    const QByteArray bytes(raw.c_str(), qsizetype(raw.size()));
    if (cs == Charset::Latin1) return QString::fromLatin1(bytes).trimmed();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    // Declared UTF-8 that is not: Latin-1 sent under the wrong name.
    if (utf8.hasError()) return QString::fromLatin1(bytes).trimmed();
    return text.trimmed();
}

QDate dicomDate(const QString& s) { return s.size() == 8 ? QDate::fromString(s, QStringLiteral("yyyyMMdd")) : QDate(); }

QTime dicomTime(const QString& s) {
    const QString t = s.section(u'.', 0, 0);  // the fraction is of no use to the operator
    if (t.size() == 6) return QTime::fromString(t, QStringLiteral("HHmmss"));
    if (t.size() == 4) return QTime::fromString(t, QStringLiteral("HHmm"));
    if (t.size() == 2) return QTime::fromString(t, QStringLiteral("HH"));
    return {};
}

struct FindState {
    QList<WorklistItem>* items;
    int skipped = 0;
    QStringList oddCharsets;
};

void onFindResponse(void* data, T_DIMSE_C_FindRQ*, int, T_DIMSE_C_FindRSP*, DcmDataset* ds) {
    auto* state = static_cast<FindState*>(data);
    if (!ds) return;
    OFString charset;
    ds->findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
    const QString declared = QString::fromLatin1(charset.c_str()).trimmed();
    Charset cs = Charset::Utf8;
    if (declared == QLatin1String("ISO_IR 192"))
        cs = Charset::Utf8;
    else if (declared == QLatin1String("ISO_IR 100") || declared == QLatin1String("ISO 2022 IR 100"))
        cs = Charset::Latin1;
    else if (!declared.isEmpty() && declared != QLatin1String("ISO_IR 6")) {
        // Any other set DCMTK can convert; what it cannot is guessed, and said once.
        if (ds->convertToUTF8().good())
            cs = Charset::Utf8;
        else if (!state->oddCharsets.contains(declared))
            state->oddCharsets << declared;
    }
    auto text = [&](DcmItem* item, const DcmTagKey& tag) {
        OFString v;
        if (item) item->findAndGetOFStringArray(tag, v);
        return decode(v, cs);
    };
    DcmItem* step = nullptr;
    ds->findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, step, 0);

    WorklistItem w;
    w.patientName = readableName(text(ds, DCM_PatientName));
    w.patientId = text(ds, DCM_PatientID);
    w.issuerOfPatientId = text(ds, DCM_IssuerOfPatientID);
    if (w.patientName.isEmpty() || w.patientId.isEmpty()) {
        ++state->skipped;
        return;
    }
    w.birthDate = dicomDate(text(ds, DCM_PatientBirthDate));
    const QString sex = text(ds, DCM_PatientSex).toUpper();
    if (sex == u'M' || sex == u'F' || sex == u'O') w.sex = sex;
    w.accessionNumber = text(ds, DCM_AccessionNumber);
    // A UID the objects could not carry is no study to join: the derived one is used instead.
    w.studyInstanceUid = text(ds, DCM_StudyInstanceUID);
    static const QRegularExpression uid(QStringLiteral("^(0|[1-9][0-9]*)(\\.(0|[1-9][0-9]*))+$"));
    if (w.studyInstanceUid.size() > 64 || !uid.match(w.studyInstanceUid).hasMatch()) w.studyInstanceUid.clear();
    w.requestedProcedureId = text(ds, DCM_RequestedProcedureID);
    w.requestedProcedureDescription = text(ds, DCM_RequestedProcedureDescription);
    w.scheduledStepId = text(step, DCM_ScheduledProcedureStepID);
    w.scheduledDate = dicomDate(text(step, DCM_ScheduledProcedureStepStartDate));
    w.scheduledTime = dicomTime(text(step, DCM_ScheduledProcedureStepStartTime));
    w.procedureDescription = text(step, DCM_ScheduledProcedureStepDescription);
    if (w.procedureDescription.isEmpty()) w.procedureDescription = text(ds, DCM_RequestedProcedureDescription);
    state->items->append(w);
}

}  // namespace

bool queryWorklist(const PacsPeer& peer, QDate day, const QString& stationAeTitle, QList<WorklistItem>* items,
                   QString* error, QString* note) {
    QList<WorklistItem> local;
    QList<WorklistItem>& out = items ? *items : local;
    out.clear();
    if (note) note->clear();
    if (!day.isValid()) {
        if (error) *error = QStringLiteral("Data inválida para a consulta da lista de trabalho.");
        return false;
    }
    Association a;
    if (!a.begin(peer, error)) return false;
    a.propose(UID_FINDModalityWorklistInformationModel, kUncompressed);
    if (!a.open(error)) return false;
    const T_ASC_PresentationContextID id =
        ASC_findAcceptedPresentationContextID(a.get(), UID_FINDModalityWorklistInformationModel);
    if (id == 0) {
        if (error)
            *error = QStringLiteral("O PACS em %1 não oferece lista de trabalho (Modality Worklist).").arg(where(peer));
        return false;
    }

    DcmDataset query;
    for (const DcmTagKey& tag :
         {DCM_PatientName, DCM_PatientID, DCM_IssuerOfPatientID, DCM_PatientBirthDate, DCM_PatientSex,
          DCM_AccessionNumber, DCM_RequestedProcedureDescription, DCM_RequestedProcedureID, DCM_StudyInstanceUID})
        query.insertEmptyElement(tag);
    DcmItem* step = nullptr;
    query.findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
    step->putAndInsertString(DCM_ScheduledStationAETitle, stationAeTitle.trimmed().toLatin1().constData());
    step->putAndInsertString(DCM_ScheduledProcedureStepStartDate,
                             day.toString(QStringLiteral("yyyyMMdd")).toLatin1().constData());
    for (const DcmTagKey& tag : {DCM_ScheduledProcedureStepStartTime, DCM_Modality,
                                 DCM_ScheduledProcedureStepDescription, DCM_ScheduledProcedureStepID})
        step->insertEmptyElement(tag);

    T_DIMSE_C_FindRQ req{};
    req.MessageID = a.get()->nextMsgID++;
    OFStandard::strlcpy(req.AffectedSOPClassUID, UID_FINDModalityWorklistInformationModel,
                        sizeof req.AffectedSOPClassUID);
    req.DataSetType = DIMSE_DATASET_PRESENT;
    req.Priority = DIMSE_PRIORITY_MEDIUM;
    T_DIMSE_C_FindRSP rsp{};
    DcmDataset* detail = nullptr;
    int count = 0;
    FindState state{&out, 0, {}};
    const OFCondition cond = DIMSE_findUser(a.get(), id, &req, &query, count, onFindResponse, &state, DIMSE_NONBLOCKING,
                                            peer.timeoutSeconds, &rsp, &detail);
    delete detail;
    if (cond.bad()) {
        out.clear();
        if (error) *error = a.connectionFailure(cond);
        return false;
    }
    a.release();
    if (rsp.DimseStatus != STATUS_Success) {
        out.clear();
        if (error)
            *error = QStringLiteral("O PACS em %1 recusou a consulta da lista de trabalho (código 0x%2).")
                         .arg(where(peer))
                         .arg(rsp.DimseStatus, 4, 16, QChar(u'0'));
        return false;
    }
    std::sort(out.begin(), out.end(), [](const WorklistItem& x, const WorklistItem& y) {
        return std::tie(x.scheduledDate, x.scheduledTime) < std::tie(y.scheduledDate, y.scheduledTime);
    });
    QStringList notes;
    if (state.skipped == 1)
        notes << QStringLiteral(
            "1 agendamento da lista de trabalho foi ignorado por não ter nome ou código do paciente.");
    else if (state.skipped > 1)
        notes << QStringLiteral(
                     "%1 agendamentos da lista de trabalho foram ignorados por não terem nome ou código do "
                     "paciente.")
                     .arg(state.skipped);
    if (!state.oddCharsets.isEmpty())
        notes << QStringLiteral(
                     "O PACS usou um conjunto de caracteres desconhecido (%1): confira a acentuação dos nomes.")
                     .arg(state.oddCharsets.join(QStringLiteral(", ")));
    if (note) *note = notes.join(u' ');
    return true;
}

}  // namespace norvix::dicom
