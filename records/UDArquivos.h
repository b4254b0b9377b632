#pragma once
// The stored eye images of an exam: one ARQUIVOS row with the central and the lateral image,
// each a JPEG file or empty.
class QBuffer;
class QIODevice;

namespace norvix {

class TDArquivos {
public:
    // Stores both streams whole, from their first byte whatever their position (an empty
    // stream gives an empty blob), then commits. Raises Error for a stream that cannot be
    // read, DatabaseError for the server's errors.
    void InsertArquivos(int Codigo_Exames, QIODevice& Central, QIODevice& Lateral);
    // Replaces the content of both streams with the exam's two images (empty when the exam
    // has no row) and rewinds them; streams not open are left open for reading and writing.
    void SelectImagensByExame(int CodExame, QBuffer& Central, QBuffer& Lateral);
};

// The instance every caller shares.
TDArquivos& DArquivos();

}  // namespace norvix
