#include "cli/texts.h"

namespace orvx {

const char* const USAGE_TEXT =
    "Orvanti Image Converter v0.5 by Zavel - USO:\n"
    " orvx -r immagine  (legge il numero di colori e la chiave di un'immagine)\n"
    " orvx -c origine.bmp destinazione [colore] [chiave]  (converte un'immagine\n"
    "\t\t      utilizzando i valori opzionali per il colore e la chiave)\n"
    "\n"
    "E-mail: zavel@orvanti.example\n"
    "Sito:   https://orvanti.example\n";

const char* const SUCCESS_BANNER = "Operazione riuscita\n\n";
const char* const ERROR_LINE_FORMAT = "%s - Operazione non riuscita\n\n";
const char* const UNDEFINED_LINE_FORMAT = "Nell'immagine ci sono %lld pixel non definiti\n\n";
const char* const INSPECT_OPEN_FAILED = "Impossibile aprire il file - Operazione non riuscita\n\n";
const char* const INSPECT_READ_FAILED =
    "Impossibile leggere la chiave dal file - Operazione non riuscita\n\n";
const char* const INSPECT_NOT_DAZ = "Il file non sembra un'immagine daz, comunque:\n";
const char* const INSPECT_VALUES_FORMAT =
    "Il numero di colori e':%hd\nLa chiave in Hex e': %hX\n\n";

namespace {

// In code order: the first belongs to ERR_READ (-1), the last to ERR_BAD_COLORS (-7).
const char* const RESULT_MESSAGES[RESULT_CODE_COUNT] = {
    "Errore di lettura",
    "Errore di scrittura",
    "Impossibile aprire il file",
    "Impossibile creare il file",
    "Il file non sembra un BMP valido",
    "Puoi convertire solo BMP a 16 o 256 colori",
    "Il numero di colori non e' adatto per quest'immagine",
};

// messages[0] belongs to code -1; a code outside the table has no message.
const char* messageOfCode(const char* const* messages, int count, long long code) {
    return code < -count || code >= 0 ? "" : messages[-code - 1];
}

} // namespace

const char* resultMessage(ConvertResult code) {
    return messageOfCode(RESULT_MESSAGES, RESULT_CODE_COUNT, code);
}

const char* const DAZBMP_USAGE_TEXT = "Uso: dazbmp immagine.daz destinazione.bmp\n\n";

namespace {

// In code order: the first belongs to DECODE_ERR_OPEN (-1).
const char* const DECODE_MESSAGES[DECODE_CODE_COUNT] = {
    "Impossibile aprire il file",
    "Errore di lettura",
    "Il file non sembra un'immagine daz",
    "L'immagine daz non ha 4 o 8 bit per pixel",
    "Il numero di colori dell'immagine daz non e' valido",
    "Il file e' piu' corto dell'intestazione e della tavolozza",
    "L'immagine e' troppo grande per un BMP",
    "Impossibile creare il file",
    "Errore di scrittura",
    "L'immagine daz non ha nemmeno una riga intera di pixel",
};

} // namespace

const char* decodeMessage(DecodeResult code) {
    return messageOfCode(DECODE_MESSAGES, DECODE_CODE_COUNT, code);
}

const char* const PNGDAZ_USAGE_TEXT = "Uso: pngdaz origine.png destinazione [colore] [chiave]\n\n";
const char* const DAZPNG_USAGE_TEXT = "Uso: dazpng immagine.daz destinazione.png\n\n";

const char* pngResultMessage(ConvertResult code) {
    if (code == ERR_NOT_BMP) {
        return "Il file non sembra un PNG valido";
    }
    if (code == ERR_BAD_DEPTH) {
        return "Puoi convertire solo PNG con tavolozza";
    }
    if (code == ERR_TOO_BIG_TO_HOLD) {
        return "L'immagine e' troppo grande per essere tenuta in memoria";
    }
    return resultMessage(code);
}

const char* dazpngMessage(DecodeResult code) {
    return code == DECODE_ERR_TOO_BIG ? "L'immagine e' troppo grande per un PNG"
                                      : decodeMessage(code);
}

} // namespace orvx
