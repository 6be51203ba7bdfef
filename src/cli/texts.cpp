#include "cli/texts.h"

#include "cli/daz_messages.h"
#include "daz/daz.h"

#include <cstdio>
#include <iterator>

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

const char* const READ_FAILED = "Errore di lettura";
const char* const WRITE_FAILED = "Errore di scrittura";
const char* const OPEN_FAILED = "Impossibile aprire il file";
const char* const CREATE_FAILED = "Impossibile creare il file";

// What the conversions into daz and back share: the input, the output, and
// memory, which counts as a failed read (the input being what is held).
const char* fileMessage(int error) {
    switch (error) {
    case DAZ_ERR_READ:
    case DAZ_ERR_MEMORY:
        return READ_FAILED;
    case DAZ_ERR_WRITE:
        return WRITE_FAILED;
    case DAZ_ERR_OPEN:
        return OPEN_FAILED;
    case DAZ_ERR_CREATE:
        return CREATE_FAILED;
    default:
        return "";
    }
}

// The way back's lines, but for an image too big for the format written:
// null for that and any error without a line.
const char* dazMessage(int error) {
    switch (error) {
    case DAZ_ERR_NOT_DAZ:
        return "Il file non sembra un'immagine daz";
    case DAZ_ERR_DAZ_BITS:
        return "L'immagine daz non ha 4 o 8 bit per pixel";
    case DAZ_ERR_DAZ_COLORS:
        return "Il numero di colori dell'immagine daz non e' valido";
    case DAZ_ERR_TRUNCATED:
        return "Il file e' piu' corto dell'intestazione e della tavolozza";
    case DAZ_ERR_NO_ROWS:
        return "L'immagine daz non ha nemmeno una riga intera di pixel";
    default: {
        const char* line = fileMessage(error);
        return *line != '\0' ? line : nullptr;
    }
    }
}

// dazbmp's and dazpng's.
const char* writingMessage(int error, const char* tooBig) {
    if (error == DAZ_ERR_LIMITS) {
        return tooBig;
    }
    const char* line = dazMessage(error);
    return line != nullptr ? line : "";
}

} // namespace

const char* resultMessage(long long code) {
    static const char* const MESSAGES[] = {
        READ_FAILED,
        WRITE_FAILED,
        OPEN_FAILED,
        CREATE_FAILED,
        "Il file non sembra un BMP valido",
        "Puoi convertire solo BMP a 16 o 256 colori",
        "Il numero di colori non e' adatto per quest'immagine",
    };
    const long long index = -code - 1;
    return index >= 0 && index < static_cast<long long>(std::size(MESSAGES)) ? MESSAGES[index]
                                                                             : READ_FAILED;
}

const char* formatMessage(int error, const char* formatName, MessageText& text) {
    const char* format = nullptr;
    if (error == DAZ_ERR_FORMAT) {
        return "Il file non e' un'immagine di un formato conosciuto";
    }
    if (error == DAZ_ERR_BAD_IMAGE) {
        format = formatName != nullptr ? "Il file non sembra un %s valido"
                                       : "Il file non sembra un'immagine valida";
    } else if (error == DAZ_ERR_NOT_INDEXED) {
        format = formatName != nullptr ? "L'immagine %s non ha una tavolozza"
                                       : "L'immagine non ha una tavolozza";
    }
    if (format == nullptr) {
        return conversionMessage(error);
    }
    std::snprintf(text.bytes, sizeof text.bytes, format, formatName);
    return text.bytes;
}

const char* conversionMessage(int error) {
    switch (error) {
    case DAZ_ERR_NOT_BMP:
        return "Il file non sembra un BMP valido";
    case DAZ_ERR_BMP_BITS:
        return "Puoi convertire solo BMP a 16 o 256 colori";
    case DAZ_ERR_NOT_PNG:
        return "Il file non sembra un PNG valido";
    case DAZ_ERR_PNG_NOT_PALETTE:
        return "Puoi convertire solo PNG con tavolozza";
    case DAZ_ERR_NOT_PGM: // the library's alone: no command reads a PGM
        return "Il file non sembra un PGM valido";
    case DAZ_ERR_COLORS:
        return "Il numero di colori non e' adatto per quest'immagine";
    case DAZ_ERR_TOO_BIG_TO_HOLD:
        return "L'immagine e' troppo grande per essere tenuta in memoria";
    default:
        return fileMessage(error);
    }
}

const char* const IMGDAZ_USAGE_TEXT =
    "Uso: imgdaz origine destinazione [colore] [chiave]\n"
    " origine  un'immagine con tavolozza (BMP, PNG, GIF, TIFF, ...)\n\n";
const char* const DAZBMP_USAGE_TEXT = "Uso: dazbmp immagine.daz destinazione.bmp\n\n";
const char* const PNGDAZ_USAGE_TEXT = "Uso: pngdaz origine.png destinazione [colore] [chiave]\n\n";
const char* const DAZPNG_USAGE_TEXT = "Uso: dazpng immagine.daz destinazione.png\n\n";

const char* bmpWritingMessage(int error) {
    return writingMessage(error, "L'immagine e' troppo grande per un BMP");
}

const char* pngWritingMessage(int error) {
    return writingMessage(error, "L'immagine e' troppo grande per un PNG");
}

const char* const DAZGIF_USAGE_TEXT = "Uso: dazgif immagine.daz destinazione.gif\n\n";

const char* gifWritingMessage(int error) {
    return writingMessage(error, "L'immagine e' troppo grande per un GIF");
}

const char* const RGBDAZ_USAGE_TEXT =
    "Uso: rgbdaz [-d] [-p tavolozza] [-t indice] [-s rrggbb] origine destinazione [colori] "
    "[chiave]\n"
    " origine      un'immagine PNG, BMP, PGM o daz\n"
    " colori       quanti colori al massimo (2..256, predefinito 256); con -p, quanti\n"
    "              colori della tavolozza (predefinito tutti)\n"
    " chiave       la chiave in esadecimale\n"
    " -d           retinatura (diffusione dell'errore)\n"
    " -p tavolozza usa la tavolozza di un'immagine daz, BMP o PNG\n"
    " -t indice    l'indice dei pixel trasparenti\n"
    " -s rrggbb    il colore di sfondo dei pixel trasparenti (predefinito 000000)\n\n";

const char* const RGBDAZ_PALETTE_LINE_FORMAT = "Tavolozza: %s - Operazione non riuscita\n\n";

const char* reductionMessage(int error, const char* formatName, MessageText& text) {
    switch (error) {
    case DAZ_ERR_FORMAT:
        return "Il file non sembra un'immagine PNG, BMP, PGM o daz";
    case DAZ_ERR_BMP_BITS:
        return "Il BMP non ha 1, 2, 4, 8, 16, 24 o 32 bit per pixel";
    case DAZ_ERR_LIMITS:
        return "L'immagine e' troppo grande";
    case DAZ_ERR_NO_PALETTE:
        return "L'immagine ha piu' di 256 colori e nessuna tavolozza";
    case DAZ_ERR_ARGUMENT:
    case DAZ_ERR_COLORS:
        return "Il numero di colori non e' adatto per quest'immagine";
    case DAZ_ERR_NOT_DAZ:
    case DAZ_ERR_DAZ_BITS:
    case DAZ_ERR_DAZ_COLORS:
    case DAZ_ERR_TRUNCATED:
    case DAZ_ERR_NO_ROWS:
        return dazMessage(error);
    default:
        return formatMessage(error, formatName, text);
    }
}

const char* rgbdazFaultMessage(RgbdazFault fault) {
    return fault == RgbdazFault::INDEX ? "L'indice trasparente non e' adatto per questa tavolozza"
                                       : "Il colore di sfondo non e' valido";
}

} // namespace orvx

extern "C" {

const char* orvx_daz_message(int error) {
    return orvx::dazMessage(error);
}

const char* orvx_error_line_format(void) {
    return orvx::ERROR_LINE_FORMAT;
}

} // extern "C"
