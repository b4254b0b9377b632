// A test module: the exports chosen by the WITH_* definitions, each recording what it received
// as one line appended to the file named by $NORVIX_TEST_RECORD, so a test can check argument
// order and values after the library has been released. Kept free of static C++ objects so
// that dlclose really unloads it.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>
#include "modules/ModuleContract.h"

#ifndef INFO_KIND
#define INFO_KIND 0
#endif
#ifndef MODULE_TAG
#define MODULE_TAG "test"
#endif

namespace {

void record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void record(const char* format, ...) {
    const char* file = std::getenv("NORVIX_TEST_RECORD");
    if (!file || !*file) return;
    FILE* f = std::fopen(file, "a");
    if (!f) return;
    std::fprintf(f, "%s|", MODULE_TAG);
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
}

void put(ModuleStream* s, const char* text) {
    if (s) s->write(s->context, text, static_cast<int64_t>(std::strlen(text)));
}

// The first line of a stream, from its start (up to 63 bytes).
[[maybe_unused]] const char* firstLine(ModuleStream* s, char* buffer) {
    buffer[0] = 0;
    if (!s) return "null";
    s->seek(s->context, 0, 0);
    const int64_t n = s->read(s->context, buffer, 63);
    buffer[n > 0 ? n : 0] = 0;
    for (char* p = buffer; *p; ++p)
        if (*p == '\r' || *p == '\n') *p = 0;
    return buffer;
}

long long sizeOf(ModuleStream* s) { return s ? static_cast<long long>(s->size(s->context)) : -1; }

// Every line of a stream from its start, joined by ';' (at most size - 1 bytes).
[[maybe_unused]] const char* allLines(ModuleStream* s, char* buffer, int64_t size) {
    buffer[0] = 0;
    if (!s) return "null";
    s->seek(s->context, 0, 0);
    const int64_t n = s->read(s->context, buffer, size - 1);
    buffer[n > 0 ? n : 0] = 0;
    char* out = buffer;
    for (const char* p = buffer; *p; ++p) {
        if (*p == '\r') continue;
        *out++ = *p == '\n' ? ';' : *p;
    }
    *out = 0;
    if (out > buffer && out[-1] == ';') out[-1] = 0;
    return buffer;
}

// Appends to a record line under construction.
[[maybe_unused]] void append(char* line, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
[[maybe_unused]] void append(char* line, size_t size, const char* format, ...) {
    const size_t used = std::strlen(line);
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + used, size - used, format, args);
    va_end(args);
}

// The base name of this library file, so that copies under other names tell themselves apart.
const char* ownName() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&sizeOf), &info) || !info.dli_fname) return "?";
    const char* slash = std::strrchr(info.dli_fname, '/');
    return slash ? slash + 1 : info.dli_fname;
}

[[maybe_unused]] void writeInfo(ModuleStream* out) {
    char line[300];
    switch (INFO_KIND) {
    case 1: std::snprintf(line, sizeof line, "Mapa %s\r\n1\r\n1\r\n", ownName()); put(out, line); break;
    case 2: std::snprintf(line, sizeof line, "Multi %s\r\n2\r\n4\r\n", ownName()); put(out, line); break;
    case 3: put(out, "Duas Linhas\r\n1\r\n"); break;
    case 4: put(out, "Com Espaco\r\n 1\r\n1\r\n"); break;
    case 5: put(out, "Tipo Sete\r\n7\r\n3\r\n"); break;
    case 6: put(out, "Uma Linha\r\n"); break;
    case 7: break;
    case 8:
        put(out, "Mil linhas\r\n1\r\n1\r\n");
        for (int i = 3; i < 1000; ++i) {
            std::snprintf(line, sizeof line, "linha %d\r\n", i);
            put(out, line);
        }
        break;
    case 9: {
        static const unsigned char garbage[] = {0x7f, 'E', 'L', 'F', 0xff, 0xfe, '\r', '\n', 0, 'x', '\n', 0x81};
        out->write(out->context, garbage, sizeof garbage);
        break;
    }
    case 10:
        // Writes far beyond anything it was asked for, then a normal description.
        out->seek(out->context, int64_t(1) << 40, 0);
        put(out, "fora do limite");
        out->seek(out->context, -5, 0);
        out->seek(out->context, 0, 0);
        put(out, "Depois do limite\r\n1\r\n1\r\n");
        break;
    case 11: put(out, "Euresys Picolo Jr. 4\r\n"); break;
    case 12: put(out, "Processamento de Teste\r\nignorada\r\n"); break;
    case 13: put(out, "Mapa Refra\xe7\xe3o\r\n1\r\n2\r\n"); break;
    case 14: put(out, "Mapa LF\n2\n3\n"); break;
    default: break;
    }
    record("info|size=%lld", sizeOf(out));
}

}  // namespace

extern "C" {

#ifdef WITH_INFOMAPA
__attribute__((visibility("default"))) void InfoMapa(ModuleStream* out) { writeInfo(out); }
static_assert(std::is_same_v<decltype(&InfoMapa), TInfoMapa>);
#endif

#ifdef WITH_INFO
__attribute__((visibility("default"))) void Info(ModuleStream* out) { writeInfo(out); }
static_assert(std::is_same_v<decltype(&Info), TInfo>);
#endif

#ifdef WITH_PROCESSA_MAPA
__attribute__((visibility("default"))) int32_t ProcessaMapa(
    void* w, ModuleStream* front, ModuleStream* lateral, double cx, double cy, ModuleStream* header,
    const TMatrizAngAnel* m, const TMatrizAng* mer, const TMatrizAngAnel* d, const TPupila* pupil,
    const TInfosQV* infos) {
#ifdef RECORD_FULL
    char h[1024];
    record("ProcessaMapa|front=%lld|lateral=%lld|m=%g|mer=%d|d=%g|pupil=%d|rings=%d|cone=%s|header=%s", sizeOf(front),
           sizeOf(lateral), (*m)[1][2], (*mer)[3], (*d)[4][5], (*pupil)[0], infos->NumAneis,
           infos->TipoCone ? infos->TipoCone : "null", allLines(header, h, sizeof h));
    (void)w;
    (void)cx;
    (void)cy;
#else
    char h[64];
    record("ProcessaMapa|w=%p|front=%lld|lateral=%lld|cx=%g|cy=%g|header=%s|m=%g|mer=%d|d=%g|pupil=%d,%d,%d,%d|rings=%d",
           w, sizeOf(front), sizeOf(lateral), cx, cy, firstLine(header, h), (*m)[1][2], (*mer)[3], (*d)[4][5],
           (*pupil)[0], (*pupil)[1], (*pupil)[2], (*pupil)[3], infos->NumAneis);
#endif
    return 0;
}
static_assert(std::is_same_v<decltype(&ProcessaMapa), TProcessaMapa>);
#endif

#ifdef WITH_PROCESSA_MAPA_ORTO
__attribute__((visibility("default"))) int32_t ProcessaMapaOrto(void*, ModuleStream* front, ModuleStream* lateral,
                                                                double, double, ModuleStream* header,
                                                                const TMatrizAngAnel* m, const TMatrizAng*,
                                                                const TMatrizAngAnel*, const TPupila*,
                                                                const TValoresOrto* ortho, const TInfosQV* infos) {
    char h[1024];
    record("ProcessaMapaOrto|front=%lld|lateral=%lld|m=%g|orto=%g,%g,%g|rings=%d|cone=%s|header=%s", sizeOf(front),
           sizeOf(lateral), (*m)[1][2], (*ortho)[0], (*ortho)[1], (*ortho)[2], infos->NumAneis,
           infos->TipoCone ? infos->TipoCone : "null", allLines(header, h, sizeof h));
    return 0;
}
static_assert(std::is_same_v<decltype(&ProcessaMapaOrto), TProcessaMapaOrto>);
#endif

#ifdef WITH_VISUALIZAR
__attribute__((visibility("default"))) int32_t Visualizar(
    void* w, ModuleStream* image, ModuleStream* u1, ModuleStream* u2, double cx, double cy,
    const TMatrizAngAnel* m, const TMatrizAng* mer, const TMatrizAngAnel* d, const TPupila* pupil,
    TResultadoMapa* result, void* u3, const TInfosQV* infos) {
#if defined(VISUALIZAR_PNG)
    // A 2 x 1 picture: one red and one blue pixel.
    static const unsigned char png[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
        0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x7b, 0x40, 0xe8, 0xdd, 0x00, 0x00, 0x00,
        0x0d, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xf8, 0xcf, 0x00, 0x04, 0xff, 0x01, 0x07, 0x00, 0x01, 0xff,
        0x3d, 0x7d, 0x8c, 0x49, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    image->write(image->context, png, sizeof png);
#elif defined(VISUALIZAR_EMPTY)
    (void)image;
#else
    put(image, "PICTURE");
#endif
    for (int i = 0; i < 9; ++i) (*result)[i] = 40.0 + i;
#ifdef VISUALIZAR_NAN
    (*result)[8] = __builtin_nan("");
#endif
    record("Visualizar|w=%p|nulls=%d%d%d|cx=%g|cy=%g|m=%g|mer=%d|d=%g|pupil=%d|rings=%d", w, u1 == nullptr,
           u2 == nullptr, u3 == nullptr, cx, cy, (*m)[1][2], (*mer)[3], (*d)[4][5], (*pupil)[0], infos->NumAneis);
#ifdef VISUALIZAR_FALHA
    return 0;  // a map it could not compute, the record filled all the same
#else
    return 1;
#endif
}
static_assert(std::is_same_v<decltype(&Visualizar), TVisualizar>);
#endif

#if defined(WITH_WIZARD) || defined(WITH_WIZARD_ORTO)
namespace {
// The operator's choice comes from $NORVIX_TEST_WIZARD: unset, the wizard returns 1 and
// chooses nothing; "cancel" returns 0; "2,1" chooses lines 2 and 1 of the list (a leading type
// letter left out); "=a|b" chooses the lines a and b as written. A choice also writes an option.
int32_t wizard(int form, int flag, ModuleStream* list, ModuleStream* selection, ModuleStream* options,
               const TInfosQV* infos) {
    char lines[4096];
    allLines(list, lines, sizeof lines);
    record("Wizard|form=%d|flag=%d|rings=%d|list=%s", form, flag, infos->NumAneis, lines);
    const char* choice = std::getenv("NORVIX_TEST_WIZARD");
    if (!choice) return 1;
    if (std::strcmp(choice, "cancel") == 0) return 0;
    if (*choice == '=') {
        for (const char* p = choice + 1; *p; ++p) {
            if (*p == '|') put(selection, "\r\n");
            else selection->write(selection->context, p, 1);
        }
        put(selection, "\r\n");
    } else {
        for (const char* p = choice; *p;) {
            const int wanted = std::atoi(p);
            // Find line number `wanted` in the joined list.
            const char* line = lines;
            for (int n = 1; n < wanted && line; ++n) {
                line = std::strchr(line, ';');
                if (line) ++line;
            }
            if (line) {
                if ((*line == 'T' || *line == 'O') && std::strncmp(line + 1, "Olho", 4) == 0) ++line;
                const char* end = std::strchr(line, ';');
                selection->write(selection->context, line, end ? end - line : int64_t(std::strlen(line)));
                put(selection, "\r\n");
            }
            p = std::strchr(p, ',');
            if (!p) break;
            ++p;
        }
    }
    put(options, "OPCAO-X\r\n");
    return 1;
}
}  // namespace
#endif

#ifdef WITH_WIZARD
__attribute__((visibility("default"))) int32_t Wizard(void*, ModuleStream* list, ModuleStream* selection,
                                                      ModuleStream* options, const TInfosQV* infos) {
    return wizard(1, -1, list, selection, options, infos);
}
static_assert(std::is_same_v<decltype(&Wizard), TWizard>);
#endif

#ifdef WITH_WIZARD_ORTO
__attribute__((visibility("default"))) int32_t Wizard(void*, ModuleStream* list, ModuleStream* selection,
                                                      ModuleStream* options, uint8_t orto, const TInfosQV* infos) {
    return wizard(2, orto, list, selection, options, infos);
}
static_assert(std::is_same_v<decltype(&Wizard), TWizardOrto>);
#endif

#if defined(WITH_PROCESSA_MAPAS) || defined(WITH_PROCESSA_MAPAS_ORTO)
namespace {
// Each exam's m[1][2], d[4][5] and header lines.
void examsOf(char* line, size_t size, const TDadosPac* headers, const TMatrizesAngAnel* m, const TMatrizesAngAnel* d) {
    for (int i = 0; i < headers->count; ++i) {
        char h[512];
        append(line, size, "|%d:m=%g,d=%g,header=%s", i, m->items[i][1][2], d->items[i][4][5],
               allLines(headers->items[i], h, sizeof h));
    }
}
}  // namespace
#endif

#ifdef WITH_PROCESSA_MAPAS
__attribute__((visibility("default"))) int32_t ProcessaMapas(void*, const TDadosPac* headers,
                                                             const TMatrizesAngAnel* m, const TMatrizesAng* mer,
                                                             const TMatrizesAngAnel* d, const TMatPup* pupils,
                                                             int32_t count, ModuleStream* options,
                                                             const TInfosQV* infos) {
    char line[8192] = "";
    char o[64];
    append(line, sizeof line, "ProcessaMapas|n=%d|counts=%d,%d,%d,%d,%d|options=%s|rings=%d", count, headers->count,
           m->count, mer->count, d->count, pupils->count, firstLine(options, o), infos->NumAneis);
    examsOf(line, sizeof line, headers, m, d);
    for (int i = 0; i < mer->count; ++i)
        append(line, sizeof line, "|mer%d=%d,pupil=%d", i, mer->items[i][3], pupils->items[i][0]);
    record("%s", line);
    return 0;
}
static_assert(std::is_same_v<decltype(&ProcessaMapas), TProcessaMapas>);
#endif

#ifdef WITH_PROCESSA_MAPAS_ORTO
__attribute__((visibility("default"))) int32_t ProcessaMapas(void*, const TDadosPac* headers,
                                                             const TMatrizesAngAnel* m, const TMatrizesAngAnel* d,
                                                             const TTabelaOrto* table, const TInfosQV* infos) {
    char line[8192] = "";
    append(line, sizeof line, "ProcessaMapasOrto|counts=%d,%d,%d|rings=%d|table=", headers->count, m->count, d->count,
           infos->NumAneis);
    for (int r = 0; r < 4; ++r)
        append(line, sizeof line, "%s%g,%g,%g,%g", r ? ";" : "", (*table)[r][0], (*table)[r][1], (*table)[r][2],
               (*table)[r][3]);
    examsOf(line, sizeof line, headers, m, d);
    record("%s", line);
    return 0;
}
static_assert(std::is_same_v<decltype(&ProcessaMapas), TProcessaMapasOrto>);
#endif

#if defined(WITH_DIGITALIZAR_EXAME) || defined(WITH_DIGITALIZAR_ORTO_EXAME) || defined(PROCESSA_EXAME) || \
    defined(WITH_PROCESSA_IMAGEM_ORTO_EXAME)
namespace {
// What the new-exam tests ask of a module, from $NORVIX_TEST_CAPTURE or $NORVIX_TEST_PROCESS:
// a comma-separated list of words; "lento=N" takes N milliseconds before answering.
bool asked(const char* variable, const char* word) {
    const char* list = std::getenv(variable);
    if (!list) return false;
    const size_t n = std::strlen(word);
    for (const char* p = list; (p = std::strstr(p, word)); p += n)
        if ((p == list || p[-1] == ',') && (p[n] == 0 || p[n] == ',' || p[n] == '=')) return true;
    return false;
}
void slowIfAsked(const char* variable) {
    const char* list = std::getenv(variable);
    const char* slow = list ? std::strstr(list, "lento=") : nullptr;
    if (!slow) return;
    const long ms = std::atol(slow + 6);
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}
// An 8 x 6 32-bit bottom-up bitmap file whose first stored pixel's blue byte is the marker.
void writeBitmap(ModuleStream* s, unsigned char marker) {
    unsigned char b[54 + 8 * 6 * 4] = {'B', 'M'};
    auto u32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    u32(2, sizeof b);
    u32(10, 54);
    u32(14, 40);
    u32(18, 8);
    u32(22, 6);
    b[26] = 1;
    b[28] = 32;
    u32(34, 8 * 6 * 4);
    for (size_t i = 54; i < sizeof b; ++i) b[i] = static_cast<unsigned char>(i * 7);
    b[54] = marker;
    s->write(s->context, b, sizeof b);
    s->seek(s->context, 0, 0);
}
// The marker of a bitmap written above; -1 when the stream holds no such bitmap.
int markerOf(ModuleStream* s) {
    unsigned char b[55];
    if (!s) return -1;
    s->seek(s->context, 0, 0);
    if (s->read(s->context, b, sizeof b) != sizeof b || b[0] != 'B' || b[1] != 'M') return -1;
    return b[54];
}
}  // namespace
#endif

#ifdef WITH_DIGITALIZAR_EXAME
// A capture: by default a bitmap marked 10 + eye into the image stream; "nada" writes
// nothing and returns 0, "curto" writes nine bytes, "lixo" bytes that are no bitmap, "lateral"
// also a bitmap marked 20 + eye into the spare stream, "lateral-lixo" no bitmap there.
__attribute__((visibility("default"))) uint8_t Digitalizar(void* w, ModuleStream* image, ModuleStream* spare,
                                                           uint8_t mode, const char* caption) {
    record("Digitalizar|w=%p|mode=%d|caption=%s|size=%lld|spare=%lld", w, mode, caption, sizeOf(image),
           sizeOf(spare));
    slowIfAsked("NORVIX_TEST_CAPTURE");
    if (asked("NORVIX_TEST_CAPTURE", "nada")) return 0;
    if (asked("NORVIX_TEST_CAPTURE", "curto")) {
        put(image, "BM1234567");
        return 1;
    }
    if (asked("NORVIX_TEST_CAPTURE", "lixo")) {
        for (int i = 0; i < 200; ++i) put(image, "nao e um bitmap ");
        return 1;
    }
    writeBitmap(image, static_cast<unsigned char>(10 + mode));
    if (asked("NORVIX_TEST_CAPTURE", "lateral")) writeBitmap(spare, static_cast<unsigned char>(20 + mode));
    if (asked("NORVIX_TEST_CAPTURE", "lateral-lixo")) put(spare, "nao e um bitmap");
    return 1;
}
static_assert(std::is_same_v<decltype(&Digitalizar), TDigitalizar>);
#endif

#ifdef WITH_DIGITALIZAR_ORTO_EXAME
// Four captures, bitmaps marked 10 * (eye + 1) + capture; "nada" writes nothing.
__attribute__((visibility("default"))) uint8_t Digitalizar(void* w, ModuleStream** images, ModuleStream** spares,
                                                           uint8_t eye, const char* caption) {
    record("DigitalizarOrto|w=%p|eye=%d|caption=%s|spares=%d", w, eye, caption, spares != nullptr);
    if (asked("NORVIX_TEST_CAPTURE", "nada")) return 0;
    for (int c = 0; c < 4; ++c) writeBitmap(images[c], static_cast<unsigned char>(10 * (eye + 1) + c));
    return 1;
}
static_assert(std::is_same_v<decltype(&Digitalizar), TDigitalizarOrto>);
#endif

#ifdef WITH_PROCESSA_IMAGEM_ORTO_EXAME
// The four captures measured: capture c of marker k has m = 7 + k / 100 on every ring, d = ring
// / 10, parameters Sag = k + 0.123456, Div = c, Raio = 7.5 + c / 10, fourth = 4, confidence
// 80 + k. "0" returns 0, "curto" writes only part of the m lines, "negativo" a negative radius.
__attribute__((visibility("default"))) int32_t ProcessaImagem(void* w, ModuleStream** images, ModuleStream* m,
                                                              ModuleStream* d, ModuleStream* parameters,
                                                              double* confidences, const TInfosQV* infos,
                                                              const TPathsQV*) {
    int markers[4];
    for (int c = 0; c < 4; ++c) markers[c] = markerOf(images[c]);
    record("ProcessaImagemOrto|w=%p|markers=%d,%d,%d,%d|sizes=%lld,%lld,%lld|rings=%d", w, markers[0], markers[1],
           markers[2], markers[3], sizeOf(m), sizeOf(d), sizeOf(parameters), infos->NumAneis);
    if (asked("NORVIX_TEST_PROCESS", "0")) return 0;
    char line[600];
    for (int c = 0; c < 4; ++c) {
        const int lines = asked("NORVIX_TEST_PROCESS", "curto") && c == 3 ? 100 : 360;
        for (int k = 0; k < lines; ++k) {
            line[0] = 0;
            for (int i = 0; i <= infos->NumAneis; ++i) {
                const double v = asked("NORVIX_TEST_PROCESS", "negativo") && c == 2 && k == 7 ? -7.0 : 7 + markers[c] / 100.0;
                append(line, sizeof line, "%s%.2f", i ? " " : "", v);
            }
            put(m, line);
            put(m, "\r\n");
            line[0] = 0;
            for (int i = 0; i <= infos->NumAneis; ++i) append(line, sizeof line, "%s%.1f", i ? " " : "", i / 10.0);
            put(d, line);
            put(d, "\r\n");
        }
        std::snprintf(line, sizeof line, "%.6f\r\n%d\r\n%.2f\r\n4\r\n", markers[c] + 0.123456, c, 7.5 + c / 10.0);
        put(parameters, line);
        confidences[c] = 80 + markers[c];
    }
    return 1;
}
static_assert(std::is_same_v<decltype(&ProcessaImagem), TProcessaImagemOrto>);
#endif

#ifdef WITH_PROCESSA_IMAGEM
__attribute__((visibility("default"))) int32_t ProcessaImagem(void* w, ModuleStream* image, double* cx, double* cy,
                                                              TMatrizAngAnel* m, TMatrizAng* mer, TMatrizAngAnel* d,
                                                              TPupila* pupil, double* confidence,
                                                              const TInfosQV* infos, const TPathsQV* paths) {
#ifdef PROCESSA_EXAME
    // The image's marker k gives a measure of its own: centre 300 + k, 240 - k, m = 7 + k / 100
    // and d = ring / 10 on every ring, the pupil k..k+3, confidence 80 + k. "0" returns 0 (after
    // writing), "nan" writes a NaN into m, "negativo" a negative radius.
    const int k = markerOf(image);
    record("ProcessaImagem|w=%p|marker=%d|pupil=%d,%d,%d,%d|rings=%d", w, k, (*pupil)[0], (*pupil)[1], (*pupil)[2],
           (*pupil)[3], infos->NumAneis);
    slowIfAsked("NORVIX_TEST_PROCESS");
    *cx = 300 + k;
    *cy = 240 - k;
    for (int r = 0; r < 360; ++r) {
        (*mer)[r] = infos->NumAneis;
        for (int i = 0; i <= 32; ++i) {
            (*m)[r][i] = i <= infos->NumAneis ? 7 + k / 100.0 : 0;
            (*d)[r][i] = i <= infos->NumAneis ? i / 10.0 : 0;
        }
    }
    for (int i = 0; i < 4; ++i) (*pupil)[i] = k + i;
    *confidence = 80 + k;
    if (asked("NORVIX_TEST_PROCESS", "nan")) (*m)[7][3] = std::nan("");
    if (asked("NORVIX_TEST_PROCESS", "negativo")) (*m)[7][3] = -7.5;
    (void)paths;
    return asked("NORVIX_TEST_PROCESS", "0") ? 0 : 1;
#else
    char i[64];
    record("ProcessaImagem|w=%p|image=%s|pupil=%d|rings=%d|dir=%s", w, firstLine(image, i), (*pupil)[0],
           infos->NumAneis, paths->DirQV ? paths->DirQV : "null");
    *cx = 320.5;
    *cy = 240.25;
    (*m)[1][2] = 7.5;
    (*mer)[3] = 32;
    (*d)[4][5] = 1.25;
    for (int k = 0; k < 4; ++k) (*pupil)[k] = k + 1;
    *confidence = 97.5;
    return 1;
#endif
}
static_assert(std::is_same_v<decltype(&ProcessaImagem), TProcessaImagem>);
#endif

#ifdef WITH_PROCESSA_IMAGEM_ORTO
__attribute__((visibility("default"))) int32_t ProcessaImagem(void*, ModuleStream**, ModuleStream*, ModuleStream*,
                                                              ModuleStream*, double*, const TInfosQV*,
                                                              const TPathsQV*) {
    return 1;
}
static_assert(std::is_same_v<decltype(&ProcessaImagem), TProcessaImagemOrto>);
#endif

#ifdef WITH_PROCESSA_ESFERA
__attribute__((visibility("default"))) int32_t ProcessaEsfera(void* w, ModuleStream* image, const char* radius,
                                                              ModuleStream* result, const TInfosQV* infos) {
    char i[64];
    record("ProcessaEsfera|w=%p|image=%s|radius=%s|rings=%d", w, firstLine(image, i), radius, infos->NumAneis);
    put(result, radius);
    put(result, "\r\n");
    return 1;
}
static_assert(std::is_same_v<decltype(&ProcessaEsfera), TProcessaEsfera>);
#endif

#ifdef WITH_DIGITALIZAR
__attribute__((visibility("default"))) uint8_t Digitalizar(void*, ModuleStream*, ModuleStream*, uint8_t, const char*) {
    return 0;
}
static_assert(std::is_same_v<decltype(&Digitalizar), TDigitalizar>);
#endif

#ifdef WITH_DIGITALIZAR_ORTO
__attribute__((visibility("default"))) uint8_t Digitalizar(void*, ModuleStream**, ModuleStream**, uint8_t,
                                                           const char*) {
    return 1;
}
static_assert(std::is_same_v<decltype(&Digitalizar), TDigitalizarOrto>);
#endif

#ifdef WITH_PROCESSA_LENTE
__attribute__((visibility("default"))) int32_t ProcessaLente(void*, ModuleStream* front, ModuleStream* header,
                                                             double, double, const TMatrizAngAnel* m,
                                                             const TMatrizAng*, const TMatrizAngAnel*,
                                                             const TInfosQV* infos, const TPathsQV*) {
    char h[64];
    record("ProcessaLente|front=%lld|m=%g|rings=%d|cone=%s|header=%s", sizeOf(front), (*m)[1][2], infos->NumAneis,
           infos->TipoCone ? infos->TipoCone : "null", firstLine(header, h));
    return 0;
}
static_assert(std::is_same_v<decltype(&ProcessaLente), TProcessaLente>);
#endif

#ifdef WITH_ABERROMETRIA
__attribute__((visibility("default"))) int32_t ProcessaAberrometria(
    void* w, const TMatrizAngAnel* m, const TMatrizAngAnel* d, const TMatrizAng* mer, const char* cone,
    uint8_t rings, uint8_t model, double v1, double fator, double z0, int32_t v2, int32_t v3, int32_t v4,
    ModuleStream* header, const char* const* clinic) {
    char h[64];
    record("ProcessaAberrometria|w=%p|m=%g|d=%g|mer=%d|cone=%s|rings=%d|model=%d|v1=%g|fator=%g|z0=%g|%d,%d,%d|header=%s|clinic=%s;%s;%s;%s",
           w, (*m)[1][2], (*d)[4][5], (*mer)[3], cone, rings, model, v1, fator, z0, v2, v3, v4, firstLine(header, h),
           clinic[0], clinic[1], clinic[2], clinic[3]);
    return 0;
}
static_assert(std::is_same_v<decltype(&ProcessaAberrometria), TProcessaAberrometria>);
#endif

#ifdef WITH_BACKUP
__attribute__((visibility("default"))) int32_t InfoBackup(void*, ModuleStream*, int32_t) { return 'E'; }
__attribute__((visibility("default"))) int32_t CriarBackup(void*, ModuleStream*, ModuleStream*, ModuleStream*,
                                                           ModuleStream*, int32_t, const char*, const char*) {
    return 0;
}
#ifndef WITHOUT_RESTAURAR
__attribute__((visibility("default"))) int32_t RestaurarBackup(void*, const char*, const char*) { return -1; }
static_assert(std::is_same_v<decltype(&RestaurarBackup), TRestaurarBackup>);
#endif
static_assert(std::is_same_v<decltype(&InfoBackup), TInfoBackup>);
static_assert(std::is_same_v<decltype(&CriarBackup), TCriarBackup>);
#endif

}  // extern "C"
