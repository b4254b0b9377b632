/* The contract between the workstation, the capture module and every run-time module.
 * This header is the only definition of these types: the program, Grabmod and each module
 * include it. Plain C so that a module may be written in either language.
 *
 * Conventions: every entry point is extern "C" with the default calling convention and is
 * resolved by its exact name. Texts are zero-terminated Windows-1252. Out arguments are
 * pointers. A window handle is the caller's QWidget* passed as void*; a module parents its
 * modal windows to it. Streams belong to the caller: a module never frees one and never keeps
 * one past the call; an absent stream is a null pointer.
 */
#ifndef NORVIX_MODULE_CONTRACT_H
#define NORVIX_MODULE_CONTRACT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A host-owned stream. seek origin: 0 begin, 1 current, 2 end; returns the new position. */
typedef struct ModuleStream {
    void* context;
    int64_t (*read)(void* context, void* buffer, int64_t count);        /* bytes read */
    int64_t (*write)(void* context, const void* buffer, int64_t count); /* bytes written */
    int64_t (*seek)(void* context, int64_t offset, int32_t origin);     /* new position */
    int64_t (*size)(void* context);
} ModuleStream;

/* Instrument constants and options, one instance per process, handed to modules by address.
 * Field order and types follow the 32-bit layout the record was first defined with; on this
 * 64-bit platform text references are 8 bytes, so the offsets are those the compiler gives,
 * pinned below. Reserved fields and bytes not listed are never written and stay zero.
 * Flags are 0 or 1. An empty text is a null reference. */
typedef struct TInfosQV {
    uint8_t InstrumentModel;          /* 0 Miral, 1 MiralDuo, 2 Orvent, 3 OrventDuo */
    const char* TipoCone;             /* cone type as text, "1" to "4" */
    double FatorCorrecao;
    double Z0;
    double IncMap;                    /* fixed map increment */
    double IndiceConf;                /* minimum reliability index in percent */
    uint8_t AutoAneis;
    uint8_t AutoIncMap;               /* the fixed increment is in use */
    uint8_t AutoMiniMapa;
    uint8_t AutoExame;
    uint8_t Reserved1[2];
    uint8_t Opt1;                     /* clinic data on the map screen */
    uint8_t Opt2;                     /* doctor's name on the map screen */
    uint8_t Opt3;                     /* clinic logo on the map screen */
    int32_t BackupAuto;               /* 0 never, 1 by period, 2 by exam count */
    int32_t BackupPeriodo;            /* AUTO_OP1_1 */
    int32_t BackupUnidade;            /* AUTO_OP1_2: 0 days, 1 months */
    int32_t BackupExames;             /* AUTO_OP2, value modulo 256 */
    int32_t CameraCentral;
    int32_t CameraLateral;
    int32_t Reserved2[3];
    const char* MedicoAtivo;
    const char* PacienteAtivo;
    const char* Nome;                 /* clinic name */
    const char* Endereco;
    const char* CidadeEst;
    const char* Telefone;
    const char* ConectorCentral;
    const char* ConectorLateralS;
    const char* ConectorLateralD;
    const char* Reserved3;
    uint8_t NumAneis;                 /* ring count of the Placido cone */
    uint8_t SalvarImagemCaptura;
    const char* MapaPadraoNovoExame;
    const char* TipoCeratometria;
    uint8_t sImagemCentral;
    uint8_t sImagemLateral;
    int32_t QualidadeImagem;          /* JPEG quality in percent */
    const char* Idioma;
    int32_t TvlCentral;
    int32_t TIncremento;
    uint8_t AutoPCaptura;
    int32_t DelayAutoPCaptura;        /* milliseconds */
    const char* Reserved4;
    const char* Reserved5;
    uint8_t TipoCalibrador;
    uint8_t Reserved6;
    uint8_t ExibeGrade;
    uint8_t ExibeCeratometriaPontual;
    const char* CorCeratometriaPontual;
} TInfosQV;

/* Twelve directory and module paths, stored as the settings give them (no trailing '/'). */
typedef struct TPathsQV {
    const char* DirQV;                /* installation directory */
    const char* BancoDados;           /* database directory */
    const char* Exames;               /* exam files directory */
    const char* Exemplos;             /* example exams directory */
    const char* Laudos;               /* report files directory */
    const char* Digitalizacao;        /* capture module */
    const char* Processamento;        /* processing module */
    const char* Backup;               /* backup module */
    const char* DirMapas;             /* map modules directory */
    const char* DigitalizacaoOrto;    /* capture module for orthokeratology */
    const char* ProcessamentoOrto;    /* processing module for orthokeratology */
    const char* Calibracao;           /* DirQV + "/Calibração/" */
} TPathsQV;

#define NORVIX_MERIDIANS 360
#define NORVIX_MAX_RINGS 32
#define NORVIX_RING_COLUMNS 33

typedef double TMatrizAngAnel[NORVIX_MERIDIANS][NORVIX_RING_COLUMNS]; /* [meridian][ring] */
typedef int32_t TMatrizAng[NORVIX_MERIDIANS];                          /* rings per meridian */
typedef int32_t TPupila[4];                                            /* pupil record */

/* Arrays that carry their element count (multi-map calls). */
typedef struct TMatrizesAngAnel { int32_t count; TMatrizAngAnel* items; } TMatrizesAngAnel;
typedef struct TMatrizesAng { int32_t count; TMatrizAng* items; } TMatrizesAng;
typedef struct TMatPup { int32_t count; TPupila* items; } TMatPup;
typedef struct TDadosPac { int32_t count; ModuleStream** items; } TDadosPac;

typedef double TResultadoMapa[9];   /* the nine result values Visualizar fills */
typedef double TTabelaOrto[4][4];   /* one row per exam: Sag, Div, Raio, fourth value */
typedef double TValoresOrto[3];     /* one orthokeratology exam: Sag, Div, Raio */

/* Keratoconus screening of one exam, as the map window shows it. */
typedef struct TIndicesCeratocone {
    double inferiorSuperior;  /* I-S (D); NaN when the rings do not reach 3 mm */
    double sai;               /* surface asymmetry index (D) */
    double sri;               /* surface regularity index */
    double kisa;              /* KISA% (NaN with I-S) */
    int32_t triagem;          /* 0 not assessed, 1 no signs, 2 suspect, 3 compatible with keratoconus */
} TIndicesCeratocone;

/* Entry points. The host resolves each by the exact name in the comment above it and calls it
 * through these types; a module static_asserts its functions against them. Arguments marked
 * "in" are only read by the module, "out" are filled by it. Where a result is compared with 1
 * (the operation goes on only then) it says so; elsewhere the host ignores it. */

/* Capture module, "Digitalizar". Returns 1 when the operator accepted a frame, 0 otherwise;
 * the host measures the image stream rather than trusting the byte. */
typedef uint8_t (*TDigitalizar)(
    void* hostWindow,        /* calling window (QWidget*), owner of the module's windows */
    ModuleStream* image,     /* receives the BMP image, position left at 0 */
    ModuleStream* spare,     /* second host stream, unused */
    uint8_t mode,            /* 0 left eye, 1 right eye, 2 calibration sphere */
    const char* caption);    /* caller's caption, informative only */

/* Orthokeratology capture module, "Digitalizar": four captures in one call. */
typedef uint8_t (*TDigitalizarOrto)(
    void* hostWindow,        /* calling window */
    ModuleStream** images,   /* array of four image streams, filled by the module */
    ModuleStream** spares,   /* array of four more image streams */
    uint8_t eye,             /* 0 left, 1 right */
    const char* caption);    /* "Digitalizando Imagem do Olho" */

/* Capture module, "GravarFilmeLacrimal" (optional; a module without it cannot record the
 * tear-film examination): records the rings' video after a blink into the file at pathUtf8
 * (the tear-film recording format), for at most maxSeconds (3 to 120). Returns 1 recorded,
 * 0 cancelled by the operator (nothing at the path), 2 failed (the module has shown why). */
typedef uint8_t (*TGravarFilmeLacrimal)(
    void* hostWindow,        /* calling window */
    const char* pathUtf8,    /* the recording's file, UTF-8 */
    uint32_t maxSeconds,     /* longest recording */
    uint8_t eye);            /* 0 left, 1 right */

/* Capture and processing modules, "Info": writes description lines (CR LF ended) at the
 * stream's position; line 1 describes the module. */
typedef void (*TInfo)(ModuleStream* out);

/* Map modules, "InfoMapa": line 1 display name, line 2 kind ("1" single map, "2" multi-map),
 * line 3 number of maps; further lines are ignored. */
typedef void (*TInfoMapa)(ModuleStream* out);

/* Processing module, "ProcessaImagem" (topography). Result compared with 1: on 1 every
 * output is valid. */
typedef int32_t (*TProcessaImagem)(
    void* hostWindow,               /* calling window */
    ModuleStream* image,            /* in: front image (BMP) */
    double* centreX,                /* out */
    double* centreY,                /* out */
    TMatrizAngAnel* m,              /* out: m matrix */
    TMatrizAng* meridians,          /* out: rings found per meridian */
    TMatrizAngAnel* d,              /* out: d matrix */
    TPupila* pupil,                 /* in zeroed by the caller, out filled by the module */
    double* confidence,             /* out: confidence index */
    const TInfosQV* infos,          /* in: configuration record */
    const TPathsQV* paths);         /* in: paths record */

/* Orthokeratology processing module, "ProcessaImagem". Result compared with 1: on 1 the m and
 * d streams hold 4 x 360 table lines and the parameter stream 16 lines (four per capture). */
typedef int32_t (*TProcessaImagemOrto)(
    void* hostWindow,               /* calling window */
    ModuleStream** images,          /* in: array of four capture streams */
    ModuleStream* m,                /* out: m tables as text lines */
    ModuleStream* d,                /* out: d tables as text lines */
    ModuleStream* parameters,       /* out: Sag, Div, Raio, fourth value per capture */
    double* confidences,            /* out: array of four confidence indexes */
    const TInfosQV* infos,          /* in */
    const TPathsQV* paths);         /* in */

/* Processing module, "ProcessaEsfera": reduces a calibration sphere image. Result compared
 * with 1; an empty result stream counts as a failure as well. */
typedef int32_t (*TProcessaEsfera)(
    void* hostWindow,               /* calling window */
    ModuleStream* image,            /* in: sphere image (BMP) */
    const char* radius,             /* in: the sphere's radius as text, e.g. "7.73" */
    ModuleStream* result,           /* out: reference value, then one value per ring */
    const TInfosQV* infos);         /* in */

/* Single-map module, "ProcessaMapa": shows the map of one exam; result ignored. */
typedef int32_t (*TProcessaMapa)(
    void* hostWindow,               /* calling window */
    ModuleStream* front,            /* in: front image, may be null */
    ModuleStream* lateral,          /* in: lateral image, may be null */
    double centreX,                 /* in */
    double centreY,                 /* in */
    ModuleStream* header,           /* in: patient header lines */
    const TMatrizAngAnel* m,        /* in */
    const TMatrizAng* meridians,    /* in */
    const TMatrizAngAnel* d,        /* in */
    const TPupila* pupil,           /* in */
    const TInfosQV* infos);         /* in */

/* Single-map module, "ProcessaMapaOrto": as ProcessaMapa with the exam's orthokeratology
 * values before the configuration record; result ignored. */
typedef int32_t (*TProcessaMapaOrto)(
    void* hostWindow,               /* calling window */
    ModuleStream* front,            /* in: may be null (example exams) */
    ModuleStream* lateral,          /* in: may be null (example exams) */
    double centreX,                 /* in */
    double centreY,                 /* in */
    ModuleStream* header,           /* in: patient header lines */
    const TMatrizAngAnel* m,        /* in */
    const TMatrizAng* meridians,    /* in */
    const TMatrizAngAnel* d,        /* in */
    const TPupila* pupil,           /* in */
    const TValoresOrto* ortho,      /* in: Sag, Div, Raio */
    const TInfosQV* infos);         /* in */

/* Single-map module, "ImagemMapa" (optional export): the map as its window draws it (angle
 * marks, colour scale and step, headed by the header's patient, eye and date) as a PNG image
 * `width` pixels wide; 1 when drawn, 0 when the exam has no map. */
typedef int32_t (*TImagemMapa)(
    ModuleStream* image,            /* out: PNG */
    ModuleStream* header,           /* in: exam header lines, as for ProcessaMapa */
    const TMatrizAngAnel* m,        /* in */
    const TMatrizAng* meridians,    /* in */
    const TMatrizAngAnel* d,        /* in */
    const TInfosQV* infos,          /* in */
    int32_t width);                 /* in: pixels */

/* Single-map module, "IndicesCeratocone" (optional export): the keratoconus screening of the
 * exam; 1 with the record filled, 0 when the exam cannot be assessed. */
typedef int32_t (*TIndicesCeratoconeFn)(
    const TMatrizAngAnel* m,        /* in */
    const TMatrizAng* meridians,    /* in */
    const TMatrizAngAnel* d,        /* in */
    const TInfosQV* infos,          /* in */
    TIndicesCeratocone* out);       /* out */

/* Single-map module, "Visualizar" (optional export): draws a picture of the map into the
 * image stream and fills the result record; result ignored. */
typedef int32_t (*TVisualizar)(
    void* hostWindow,               /* calling window */
    ModuleStream* image,            /* out: picture of the map */
    ModuleStream* unused1,          /* always null */
    ModuleStream* unused2,          /* always null */
    double centreX,                 /* in */
    double centreY,                 /* in */
    const TMatrizAngAnel* m,        /* in */
    const TMatrizAng* meridians,    /* in */
    const TMatrizAngAnel* d,        /* in */
    const TPupila* pupil,           /* in */
    TResultadoMapa* result,         /* out: nine values read by the report editor */
    void* unused3,                  /* always null */
    const TInfosQV* infos);         /* in */

/* Multi-map module, "Wizard", first form. Result compared with 1. */
typedef int32_t (*TWizard)(
    void* hostWindow,               /* calling window */
    ModuleStream* examList,         /* in: one line per candidate exam */
    ModuleStream* selection,        /* out: chosen exams, one line each, in the wanted order */
    ModuleStream* options,          /* out: module options, may stay empty */
    const TInfosQV* infos);         /* in */

/* Multi-map module, "Wizard", second form (modules that receive both exam kinds). Result
 * compared with 1. */
typedef int32_t (*TWizardOrto)(
    void* hostWindow,               /* calling window */
    ModuleStream* examList,         /* in: one line per candidate exam, type letter first */
    ModuleStream* selection,        /* out: chosen exams without the type letter */
    ModuleStream* options,          /* out: module options */
    uint8_t orthokeratology,        /* in: 1 */
    const TInfosQV* infos);         /* in */

/* Multi-map module, "ProcessaMapas", first form: element i of every array belongs to the i-th
 * chosen exam; result ignored. */
typedef int32_t (*TProcessaMapas)(
    void* hostWindow,               /* calling window */
    const TDadosPac* headers,       /* in: patient header streams */
    const TMatrizesAngAnel* m,      /* in */
    const TMatrizesAng* meridians,  /* in */
    const TMatrizesAngAnel* d,      /* in */
    const TMatPup* pupils,          /* in */
    int32_t examCount,              /* in: number of exams */
    ModuleStream* options,          /* in: the Wizard's option stream, rewound */
    const TInfosQV* infos);         /* in */

/* Multi-map module, "ProcessaMapas", second form (orthokeratology exams); result ignored. A
 * module may also export this form as "ProcessaMapasOrto" (optional): a host that finds it calls
 * that name, so the module is never called through a type it was not built with. */
typedef int32_t (*TProcessaMapasOrto)(
    void* hostWindow,               /* calling window */
    const TDadosPac* headers,       /* in: patient header streams */
    const TMatrizesAngAnel* m,      /* in */
    const TMatrizesAngAnel* d,      /* in */
    const TTabelaOrto* table,       /* in: one row per exam */
    const TInfosQV* infos);         /* in */

/* Contact-lens module, "ProcessaLente"; result ignored. */
typedef int32_t (*TProcessaLente)(
    void* hostWindow,               /* calling window */
    ModuleStream* front,            /* in: front image */
    ModuleStream* header,           /* in: patient header lines */
    double centreX,                 /* in */
    double centreY,                 /* in */
    const TMatrizAngAnel* m,        /* in */
    const TMatrizAng* meridians,    /* in */
    const TMatrizAngAnel* d,        /* in */
    const TInfosQV* infos,          /* in */
    const TPathsQV* paths);         /* in */

/* Aberrometry module, "ProcessaAberrometria"; result ignored. */
typedef int32_t (*TProcessaAberrometria)(
    void* hostWindow,               /* calling window */
    const TMatrizAngAnel* m,        /* in */
    const TMatrizAngAnel* d,        /* in */
    const TMatrizAng* meridians,    /* in */
    const char* coneType,           /* in: cone type text, "1" to "4" */
    uint8_t ringCount,              /* in */
    uint8_t instrumentModel,        /* in: 0 to 3 */
    double value1,                  /* in: 3.0 */
    double fatorCorrecao,           /* in */
    double z0,                      /* in */
    int32_t value2,                 /* in: 350 */
    int32_t value3,                 /* in: 350 */
    int32_t value4,                 /* in: 1 */
    ModuleStream* header,           /* in: patient header lines */
    const char* const* clinic);     /* in: four texts: name, address, city, telephone */

/* Backup module, "InfoBackup": returns the character code of the backup medium's drive
 * letter and fills the stream with the backup state lines. */
typedef int32_t (*TInfoBackup)(
    void* hostWindow,               /* the backup window */
    ModuleStream* out,              /* out: state lines, empty on entry */
    int32_t version);               /* in: 3 */

/* Backup module, "CriarBackup": copies the listed files; -1 when no backup was made. Each
 * result stream gets one mark line per listed record, in list order. */
typedef int32_t (*TCriarBackup)(
    void* hostWindow,               /* the backup window */
    ModuleStream* examList,         /* in: exam file names relative to examsDir */
    ModuleStream* examResult,       /* out: one mark per exam */
    ModuleStream* reportList,       /* in: report file names relative to reportsDir */
    ModuleStream* reportResult,     /* out: one mark per report */
    int32_t version,                /* in: 3 */
    const char* examsDir,           /* in */
    const char* reportsDir);        /* in */

/* Backup module, "RestaurarBackup": -1 on failure. */
typedef int32_t (*TRestaurarBackup)(
    void* hostWindow,               /* the window */
    const char* examsDir,           /* in */
    const char* reportsDir);        /* in */

#ifdef __cplusplus
}  /* extern "C" */

static_assert(sizeof(void*) == 8, "the contract is laid out for 64-bit platforms");
static_assert(offsetof(TInfosQV, InstrumentModel) == 0);
static_assert(offsetof(TInfosQV, TipoCone) == 8);
static_assert(offsetof(TInfosQV, FatorCorrecao) == 16);
static_assert(offsetof(TInfosQV, Z0) == 24);
static_assert(offsetof(TInfosQV, IncMap) == 32);
static_assert(offsetof(TInfosQV, IndiceConf) == 40);
static_assert(offsetof(TInfosQV, AutoAneis) == 48);
static_assert(offsetof(TInfosQV, AutoExame) == 51);
static_assert(offsetof(TInfosQV, Opt1) == 54);
static_assert(offsetof(TInfosQV, Opt3) == 56);
static_assert(offsetof(TInfosQV, BackupAuto) == 60);
static_assert(offsetof(TInfosQV, BackupExames) == 72);
static_assert(offsetof(TInfosQV, CameraCentral) == 76);
static_assert(offsetof(TInfosQV, CameraLateral) == 80);
static_assert(offsetof(TInfosQV, MedicoAtivo) == 96);
static_assert(offsetof(TInfosQV, PacienteAtivo) == 104);
static_assert(offsetof(TInfosQV, Nome) == 112);
static_assert(offsetof(TInfosQV, Telefone) == 136);
static_assert(offsetof(TInfosQV, ConectorCentral) == 144);
static_assert(offsetof(TInfosQV, ConectorLateralS) == 152);
static_assert(offsetof(TInfosQV, ConectorLateralD) == 160);
static_assert(offsetof(TInfosQV, Reserved3) == 168);
static_assert(offsetof(TInfosQV, NumAneis) == 176);
static_assert(offsetof(TInfosQV, SalvarImagemCaptura) == 177);
static_assert(offsetof(TInfosQV, MapaPadraoNovoExame) == 184);
static_assert(offsetof(TInfosQV, TipoCeratometria) == 192);
static_assert(offsetof(TInfosQV, sImagemCentral) == 200);
static_assert(offsetof(TInfosQV, sImagemLateral) == 201);
static_assert(offsetof(TInfosQV, QualidadeImagem) == 204);
static_assert(offsetof(TInfosQV, Idioma) == 208);
static_assert(offsetof(TInfosQV, TvlCentral) == 216);
static_assert(offsetof(TInfosQV, TIncremento) == 220);
static_assert(offsetof(TInfosQV, AutoPCaptura) == 224);
static_assert(offsetof(TInfosQV, DelayAutoPCaptura) == 228);
static_assert(offsetof(TInfosQV, Reserved4) == 232);
static_assert(offsetof(TInfosQV, Reserved5) == 240);
static_assert(offsetof(TInfosQV, TipoCalibrador) == 248);
static_assert(offsetof(TInfosQV, Reserved6) == 249);
static_assert(offsetof(TInfosQV, ExibeGrade) == 250);
static_assert(offsetof(TInfosQV, ExibeCeratometriaPontual) == 251);
static_assert(offsetof(TInfosQV, CorCeratometriaPontual) == 256);
static_assert(sizeof(TInfosQV) == 264);
static_assert(sizeof(TPathsQV) == 96);
static_assert(offsetof(TPathsQV, Calibracao) == 88);
static_assert(sizeof(TMatrizAngAnel) == 360 * 33 * 8);
static_assert(sizeof(TMatrizAng) == 360 * 4);
#endif

#endif /* NORVIX_MODULE_CONTRACT_H */
