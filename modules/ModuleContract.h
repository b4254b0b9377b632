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
