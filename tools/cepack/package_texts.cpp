// The installer's texts in the languages cepack new offers, for install.inf's
// [Texts] (the default language) and [TextsX] (each other one, by letter).
// English is the installer's own built-in text; the others are ANSI
// (Latin-1), as the installer reads them.
#include <string>

#include "installer/texts.h"
#include "tools/cepack/cepack.h"

namespace cepack {

namespace {

struct Translation {
    const char* code;
    const char* word;  // "language", for a prompt in many languages
    const char* texts[TextCount];
};

const Translation Translations[] = {
    {"de", "Sprache",  // German
     {
         "Bitte w\xE4hlen Sie eine Sprache",
         "Installation nicht m\xF6glich!%nBitte installieren Sie das Windows Mobile-Ger\xE4tecenter 6.1 oder "
         "neuer:%n%s !%nDie Adresse wurde in die Zwischenablage kopiert.",
         "Installation nicht m\xF6glich!%nBitte installieren Sie Microsoft ActiveSync von %s !",
         "Die Dateien f\xFCr das Ger\xE4t stattdessen in einem Ordner speichern? Dann k\xF6nnen Sie die "
         "CAB-Datei auf das Ger\xE4t kopieren und dort \xF6" "ffnen.",
         "OK",
         "Abbrechen",
         "Bitte geben Sie das Zielverzeichnis ein",
         "Bitte geben Sie den vollst\xE4ndigen Pfad des Zielverzeichnisses ein, zum Beispiel "
         "C:\\Programme\\Tools.",
         "Bitte w\xE4hlen Sie das Verzeichnis, in dem das Verzeichnis %s angelegt werden soll:",
         "Das angegebene Verzeichnis existiert bereits. M\xF6" "chten Sie das Programm trotzdem dort "
         "installieren? (Vorhandene Versionen werden \xFC" "berschrieben!)%nUm eine installierte Version zu "
         "aktualisieren, installieren Sie in das Verzeichnis, in das sie installiert wurde.",
         "Dateien werden entpackt...",
         "Datensicherung:",
         "Installiere Datei:",
         "&Abbrechen",
         "Fehler beim Lesen von %s!%nDer Datentr\xE4ger ist m\xF6glicherweise defekt!",
         "Fehler beim Schreiben von %s!",
         "Installation abgebrochen!",
         "Datentr\xE4ger voll!",
         "Installation erfolgreich! Bitte folgen Sie den Anweisungen im CE App Manager.",
         "Installation NICHT erfolgreich!",
         "Die Dateien f\xFCr das Ger\xE4t wurden in %s gespeichert.%nKopieren Sie die CAB-Datei auf das Ger\xE4t "
         "(\xFC" "ber USB, auf eine Speicherkarte, ...) und \xF6" "ffnen Sie sie dort. Sind mehrere aufgef\xFChrt, "
         "nehmen Sie die f\xFCr den Prozessor des Ger\xE4ts:",
     }},
    {"fr", "Langue",  // French
     {
         "Veuillez choisir une langue",
         "Installation impossible !%nVeuillez installer le Gestionnaire pour appareils Windows Mobile 6.1 ou "
         "plus r\xE9" "cent :%n%s%nL'adresse a \xE9t\xE9 copi\xE9" "e dans le presse-papiers.",
         "Installation impossible !%nVeuillez installer Microsoft ActiveSync depuis %s.",
         "Enregistrer plut\xF4t les fichiers pour l'appareil dans un dossier ? Vous pourrez ensuite copier le "
         "fichier CAB sur l'appareil et l'y ouvrir.",
         "OK",
         "Annuler",
         "Veuillez indiquer le dossier de destination",
         "Veuillez indiquer le chemin complet du dossier de destination, par exemple C:\\Program "
         "Files\\Outils.",
         "Veuillez choisir le dossier dans lequel le dossier %s sera cr\xE9\xE9 :",
         "Le dossier indiqu\xE9 existe d\xE9j\xE0. Voulez-vous quand m\xEAme y installer le programme ? (Les "
         "versions existantes seront remplac\xE9" "es !)%nPour mettre \xE0 jour une version install\xE9" "e, "
         "installez-la dans le dossier o\xF9 elle a \xE9t\xE9 install\xE9" "e.",
         "D\xE9" "compression des fichiers...",
         "Sauvegarde des donn\xE9" "es :",
         "Installation du fichier :",
         "&Annuler",
         "Erreur de lecture de %s !%nLe disque est peut-\xEAtre d\xE9" "fectueux !",
         "Erreur d'\xE9" "criture de %s !",
         "Installation interrompue !",
         "Disque plein !",
         "Installation r\xE9ussie ! Veuillez suivre les instructions du gestionnaire d'applications CE.",
         "L'installation a \xE9" "chou\xE9 !",
         "Les fichiers pour l'appareil ont \xE9t\xE9 enregistr\xE9s dans %s.%nCopiez le fichier CAB sur "
         "l'appareil (par USB, sur une carte m\xE9moire, ...) et ouvrez-le sur celui-ci. S'il y en a plusieurs, "
         "prenez celui qui correspond au processeur de l'appareil :",
     }},
    {"es", "Idioma",  // Spanish
     {
         "Seleccione un idioma",
         "\xA1No se puede instalar!%nInstale el Centro de dispositivos de Windows Mobile 6.1 o "
         "posterior:%n%s%nLa direcci\xF3n se ha copiado en el portapapeles.",
         "\xA1No se puede instalar!%nInstale Microsoft ActiveSync desde %s.",
         "\xBFGuardar en su lugar los archivos para el dispositivo en una carpeta? Luego podr\xE1 copiar el "
         "archivo CAB al dispositivo y abrirlo all\xED.",
         "Aceptar",
         "Cancelar",
         "Indique la carpeta de destino",
         "Indique la ruta completa de la carpeta de destino, por ejemplo C:\\Archivos de "
         "programa\\Herramientas.",
         "Seleccione la carpeta en la que se crear\xE1 la carpeta %s:",
         "La carpeta indicada ya existe. \xBF" "Desea instalar el programa en ella de todos modos? (\xA1Las "
         "versiones existentes se sobrescribir\xE1n!)%nPara actualizar una versi\xF3n instalada, "
         "inst\xE1lela en la carpeta en la que se instal\xF3.",
         "Descomprimiendo archivos...",
         "Copia de seguridad:",
         "Instalando archivo:",
         "&Cancelar",
         "\xA1" "Error al leer %s!%n\xA1Puede que el disco est\xE9 da\xF1" "ado!",
         "\xA1" "Error al escribir %s!",
         "\xA1Instalaci\xF3n cancelada!",
         "\xA1" "Disco lleno!",
         "\xA1Instalaci\xF3n completada! Siga las instrucciones del administrador de aplicaciones CE.",
         "\xA1La instalaci\xF3n NO se ha completado!",
         "Los archivos para el dispositivo se han guardado en %s.%nCopie el archivo CAB al dispositivo (por USB, "
         "en una tarjeta de memoria, ...) y \xE1" "bralo all\xED. Si hay varios, elija el del procesador del "
         "dispositivo:",
     }},
    {"it", "Lingua",  // Italian
     {
         "Selezionare una lingua",
         "Impossibile installare!%nInstallare Centro gestione dispositivi Windows Mobile 6.1 o "
         "successivo:%n%s%nL'indirizzo \xE8 stato copiato negli appunti.",
         "Impossibile installare!%nInstallare Microsoft ActiveSync da %s.",
         "Salvare invece i file per il dispositivo in una cartella? Sar\xE0 poi possibile copiare il file CAB "
         "sul dispositivo e aprirlo l\xEC.",
         "OK",
         "Annulla",
         "Inserire la cartella di destinazione",
         "Inserire il percorso completo della cartella di destinazione, ad esempio C:\\Programmi\\Strumenti.",
         "Selezionare la cartella in cui creare la cartella %s:",
         "La cartella indicata esiste gi\xE0. Installare comunque il programma in questa cartella? (Le "
         "versioni esistenti verranno sovrascritte!)%nPer aggiornare una versione installata, installarla "
         "nella cartella in cui era stata installata.",
         "Estrazione dei file...",
         "Backup dei dati:",
         "Installazione del file:",
         "&Annulla",
         "Errore durante la lettura di %s!%nIl disco potrebbe essere danneggiato!",
         "Errore durante la scrittura di %s!",
         "Installazione interrotta!",
         "Disco pieno!",
         "Installazione completata! Seguire le istruzioni di CE App Manager.",
         "Installazione NON riuscita!",
         "I file per il dispositivo sono stati salvati in %s.%nCopiare il file CAB sul dispositivo (tramite USB, "
         "su una scheda di memoria, ...) e aprirlo l\xEC. Se ne sono elencati diversi, scegliere quello per il "
         "processore del dispositivo:",
     }},
    {"nl", "Taal",  // Dutch
     {
         "Kies een taal",
         "Kan niet installeren!%nInstalleer Windows Mobile-apparaatcentrum 6.1 of hoger:%n%s%nHet adres is "
         "naar het klembord gekopieerd.",
         "Kan niet installeren!%nInstalleer Microsoft ActiveSync van %s.",
         "De bestanden voor het apparaat in plaats daarvan in een map opslaan? Dan kunt u het CAB-bestand naar "
         "het apparaat kopi\xEBren en daar openen.",
         "OK",
         "Annuleren",
         "Geef de doelmap op",
         "Geef het volledige pad van de doelmap op, bijvoorbeeld C:\\Program Files\\Tools.",
         "Kies de map waarin de map %s moet worden gemaakt:",
         "De opgegeven map bestaat al. Wilt u het programma er toch in installeren? (Bestaande versies "
         "worden overschreven!)%nOm een ge\xEFnstalleerde versie bij te werken, installeert u in de map "
         "waarin deze is ge\xEFnstalleerd.",
         "Bestanden uitpakken...",
         "Back-up van gegevens:",
         "Bestand installeren:",
         "&Annuleren",
         "Fout bij het lezen van %s!%nDe schijf is mogelijk defect!",
         "Fout bij het schrijven van %s!",
         "Installatie afgebroken!",
         "Schijf vol!",
         "Installatie geslaagd! Volg de instructies in CE App Manager.",
         "Installatie NIET geslaagd!",
         "De bestanden voor het apparaat zijn opgeslagen in %s.%nKopieer het CAB-bestand naar het apparaat (via "
         "USB, naar een geheugenkaart, ...) en open het daar. Staan er meerdere, neem dan het bestand voor de "
         "processor van het apparaat:",
     }},
};

// English is built in, but for its prompt alone, which is trilingual there.
constexpr const char* EnglishPrompt = "Please select a language";

// Prompts of more languages than this many bytes would not fit the language dialog.
constexpr size_t MaxPromptLength = 100;

const Translation* Find(const std::string& code) {
    for (const Translation& t : Translations) {
        if (code == t.code) return &t;
    }
    return nullptr;
}

// A text as install.inf holds it: line breaks as %n.
std::string FileFormOf(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '\r') {
            out += "%n";
        } else {
            out += *p;
        }
    }
    return out;
}

std::string TextOf(const std::string& code, int id) {
    const Translation* t = Find(code);
    return FileFormOf(t != nullptr ? t->texts[id] : BuiltInText(id));
}

// Shown before a language is chosen: in every language offered.
std::string LanguagePromptFor(const std::vector<NewLanguage>& languages) {
    std::string sentences;
    std::string words;
    for (const NewLanguage& l : languages) {
        const Translation* t = Find(l.code);
        std::string sentence = t != nullptr ? TextOf(l.code, LanguagePromptText) : EnglishPrompt;
        sentences += (sentences.empty() ? "" : " / ") + sentence;
        words += (words.empty() ? "" : " / ") + std::string(t != nullptr ? t->word : "Language");
    }
    return (sentences.size() <= MaxPromptLength ? sentences : words) + ":";
}

// The question up to its "?", in the lines of many languages.
std::string QuestionOnly(const std::string& text) {
    size_t mark = text.find('?');
    return mark == std::string::npos ? text : text.substr(0, mark + 1);
}

// Also shown before the choice: each language's question on a line of its
// own; only the questions themselves where all of it would be cut.
std::string SaveToFolderFor(const std::vector<NewLanguage>& languages) {
    std::string whole;
    std::string questions;
    for (const NewLanguage& l : languages) {
        std::string text = TextOf(l.code, SaveToFolderText);
        whole += (whole.empty() ? "" : "%n") + text;
        questions += (questions.empty() ? "" : "%n") + QuestionOnly(text);
    }
    return whole.size() < TextBufferSize ? whole : questions;
}

}  // namespace

std::string TextSections(const std::vector<NewLanguage>& languages) {
    std::string out = "\r\n; What the installer shows, in the first language; %s stands for a file name or an "
                      "address,\r\n; %n for a line break. The other languages' texts follow in [Texts] with "
                      "their letter.\r\n[Texts]\r\n";
    for (int id = 0; id < TextCount; ++id) {
        std::string text = id == LanguagePromptText ? LanguagePromptFor(languages)
                           : id == SaveToFolderText ? SaveToFolderFor(languages)
                                                    : TextOf(languages[0].code, id);
        out += std::string(TextKeyName(id)) + "=" + text + "\r\n";
    }
    for (size_t i = 1; i < languages.size(); ++i) {
        out += "\r\n[Texts" + languages[i].letter + "]\r\n";
        for (int id = 0; id < TextCount; ++id) {
            if (IsShownBeforeChoice(id)) continue;
            out += std::string(TextKeyName(id)) + "=" + TextOf(languages[i].code, id) + "\r\n";
        }
    }
    return out;
}

}  // namespace cepack
