#include "outlookcolumns.h"

#include <QVector>

namespace {

typedef CSVImport::_ColInfo C;

const QString kNone, d1 = "data1", d2 = "data2", d3 = "data3", d4 = "data4", d5 = "data5",
                     d6 = "data6", d7 = "data7", d8 = "data8", d9 = "data9", d10 = "data10";

// What an Outlook column holds, whatever its language calls it.
enum Field {
    FIRST,
    MIDDLE,
    LAST,
    TITLE,
    SUFFIX,
    COMPANY,
    DEPARTMENT,
    JOB_TITLE,
    // Addresses: street (three lines), city, state, postal code, country, post-office box;
    // work, home, other.
    W_STREET,
    W_CITY,
    W_STATE,
    W_CODE,
    W_COUNTRY,
    H_STREET,
    H_CITY,
    H_STATE,
    H_CODE,
    H_COUNTRY,
    O_STREET,
    O_CITY,
    O_STATE,
    O_CODE,
    O_COUNTRY,
    W_PO_BOX,
    H_PO_BOX,
    O_PO_BOX,
    // Numbers.
    ASSISTANT_PHONE,
    WORK_FAX,
    WORK_PHONE,
    CALLBACK,
    CAR_PHONE,
    COMPANY_PHONE,
    HOME_FAX,
    HOME_PHONE,
    ISDN,
    MOBILE,
    OTHER_FAX,
    OTHER_PHONE,
    PAGER,
    PRIMARY_PHONE,
    RADIO,
    TTY,
    TELEX,
    EMAIL1,
    EMAIL2,
    EMAIL3,
    BIRTHDAY,
    ANNIVERSARY,
    CATEGORIES,
    NOTES,
    WEB_PAGE,
    SPOUSE,
    CHILDREN,
    MANAGER,
    ASSISTANT,
    REFERRED_BY,
    SKIP  // always filled by Outlook with nothing of the contact's own (type, priority, ...)
};

C fieldInfo(Field f) {
    switch (f) {
        case FIRST:
            return C(1, 0, kNone, d2);
        case MIDDLE:
            return C(1, 0, kNone, d4);
        case LAST:
            return C(1, 0, kNone, d3);
        case TITLE:
            return C(1, 0, kNone, d5);
        case SUFFIX:
            return C(1, 0, kNone, d6);
        case COMPANY:
            return C(10, 0, d2, d1);
        case DEPARTMENT:
            return C(10, 0, d2, d5);
        case JOB_TITLE:
            return C(10, 0, d2, d4);
        case W_STREET:
            return C(12, 2, d2, d4);
        case W_CITY:
            return C(12, 2, d2, d7);
        case W_STATE:
            return C(12, 2, d2, d8);
        case W_CODE:
            return C(12, 2, d2, d9);
        case W_COUNTRY:
            return C(12, 2, d2, d10);
        case H_STREET:
            return C(12, 1, d2, d4);
        case H_CITY:
            return C(12, 1, d2, d7);
        case H_STATE:
            return C(12, 1, d2, d8);
        case H_CODE:
            return C(12, 1, d2, d9);
        case H_COUNTRY:
            return C(12, 1, d2, d10);
        case O_STREET:
            return C(12, 0, d2, d4);
        case O_CITY:
            return C(12, 0, d2, d7);
        case O_STATE:
            return C(12, 0, d2, d8);
        case O_CODE:
            return C(12, 0, d2, d9);
        case O_COUNTRY:
            return C(12, 0, d2, d10);
        case W_PO_BOX:
        case H_PO_BOX:
        case O_PO_BOX: {
            C info(12, f == W_PO_BOX ? 2 : f == H_PO_BOX ? 1 : 0, d2, d4);
            info.streetLine = C::PO_BOX;
            return info;
        }
        case ASSISTANT_PHONE:
            return C(3, 19, d2, d1);
        case WORK_FAX:
            return C(3, 4, d2, d1);
        case WORK_PHONE:
            return C(3, 3, d2, d1);
        case CALLBACK:
            return C(3, 8, d2, d1);
        case CAR_PHONE:
            return C(3, 9, d2, d1);
        case COMPANY_PHONE:
            return C(3, 10, d2, d1);
        case HOME_FAX:
            return C(3, 5, d2, d1);
        case HOME_PHONE:
            return C(3, 1, d2, d1);
        case ISDN:
            return C(3, 11, d2, d1);
        case MOBILE:
            return C(3, 2, d2, d1);
        case OTHER_FAX:
            return C(3, 13, d2, d1);
        case OTHER_PHONE:
            return C(3, 0, d2, d1);
        case PAGER:
            return C(3, 6, d2, d1);
        case PRIMARY_PHONE:
            return C(3, 12, d2, d1);
        case RADIO:
            return C(3, 14, d2, d1);
        case TTY:
            return C(3, 16, d2, d1);
        case TELEX:
            return C(3, 15, d2, d1);
        case EMAIL1:
            return C(4, 1, d2, d1);
        case EMAIL2:
            return C(4, 2, d2, d1);
        case EMAIL3:
            return C(4, 0, d2, d1);
        case BIRTHDAY:
            return C(6, 3, d2, d1);
        case ANNIVERSARY:
            return C(6, 1, d2, d1);
        case CATEGORIES:
            return C(7, 0, kNone, d2);
        case NOTES:
            return C(9, 0, kNone, d1);
        case WEB_PAGE:
            return C(13, 1, d2, d1);
        case SPOUSE:
            return C(11, 14, d2, d1);
        case CHILDREN:
            return C(11, 3, d2, d1);
        case MANAGER:
            return C(11, 7, d2, d1);
        case ASSISTANT:
            return C(11, 1, d2, d1);
        case REFERRED_BY:
            return C(11, 11, d2, d1);
        case SKIP:
            break;
    }
    return C(0, 0, kNone, kNone, C::IGNORED);
}

struct Column {
    const char* name;  // UTF-8
    Field field;
};

// Outlook's export in each language, as the languages' Outlook versions write it.
const Column kEnglish[] = {{"First Name", FIRST},
                           {"Middle Name", MIDDLE},
                           {"Last Name", LAST},
                           {"Title", TITLE},
                           {"Suffix", SUFFIX},
                           {"Company", COMPANY},
                           {"Department", DEPARTMENT},
                           {"Job Title", JOB_TITLE},
                           {"Business Street", W_STREET},
                           {"Business Street 2", W_STREET},
                           {"Business Street 3", W_STREET},
                           {"Business City", W_CITY},
                           {"Business State", W_STATE},
                           {"Business Postal Code", W_CODE},
                           {"Business Country", W_COUNTRY},
                           {"Business Country/Region", W_COUNTRY},
                           {"Home Street", H_STREET},
                           {"Home Street 2", H_STREET},
                           {"Home Street 3", H_STREET},
                           {"Home City", H_CITY},
                           {"Home State", H_STATE},
                           {"Home Postal Code", H_CODE},
                           {"Home Country", H_COUNTRY},
                           {"Home Country/Region", H_COUNTRY},
                           {"Other Street", O_STREET},
                           {"Other Street 2", O_STREET},
                           {"Other Street 3", O_STREET},
                           {"Other City", O_CITY},
                           {"Other State", O_STATE},
                           {"Other Postal Code", O_CODE},
                           {"Other Country", O_COUNTRY},
                           {"Other Country/Region", O_COUNTRY},
                           {"Business Address PO Box", W_PO_BOX},
                           {"Home Address PO Box", H_PO_BOX},
                           {"Other Address PO Box", O_PO_BOX},
                           {"Assistant's Phone", ASSISTANT_PHONE},
                           {"Business Fax", WORK_FAX},
                           {"Business Phone", WORK_PHONE},
                           {"Business Phone 2", WORK_PHONE},
                           {"Callback", CALLBACK},
                           {"Car Phone", CAR_PHONE},
                           {"Company Main Phone", COMPANY_PHONE},
                           {"Home Fax", HOME_FAX},
                           {"Home Phone", HOME_PHONE},
                           {"Home Phone 2", HOME_PHONE},
                           {"ISDN", ISDN},
                           {"Mobile Phone", MOBILE},
                           {"Other Fax", OTHER_FAX},
                           {"Other Phone", OTHER_PHONE},
                           {"Pager", PAGER},
                           {"Primary Phone", PRIMARY_PHONE},
                           {"Radio Phone", RADIO},
                           {"TTY/TDD Phone", TTY},
                           {"Telex", TELEX},
                           {"E-mail Address", EMAIL1},
                           {"E-mail 2 Address", EMAIL2},
                           {"E-mail 3 Address", EMAIL3},
                           {"Birthday", BIRTHDAY},
                           {"Anniversary", ANNIVERSARY},
                           {"Categories", CATEGORIES},
                           {"Notes", NOTES},
                           {"Web Page", WEB_PAGE},
                           {"Spouse", SPOUSE},
                           {"Children", CHILDREN},
                           {"Manager's Name", MANAGER},
                           {"Assistant's Name", ASSISTANT},
                           {"Referred By", REFERRED_BY},
                           {"E-mail Type", SKIP},
                           {"E-mail Display Name", SKIP},
                           {"E-mail 2 Type", SKIP},
                           {"E-mail 2 Display Name", SKIP},
                           {"E-mail 3 Type", SKIP},
                           {"E-mail 3 Display Name", SKIP},
                           {"Priority", SKIP},
                           {"Sensitivity", SKIP},
                           {"Gender", SKIP},
                           {"Initials", SKIP},
                           {"Private", SKIP}};

const Column kGerman[] = {{"Anrede", TITLE},
                          {"Vorname", FIRST},
                          {"Weitere Vornamen", MIDDLE},
                          {"Nachname", LAST},
                          {"Suffix", SUFFIX},
                          {"Firma", COMPANY},
                          {"Abteilung", DEPARTMENT},
                          {"Position", JOB_TITLE},
                          {"Straße geschäftlich", W_STREET},
                          {"Straße geschäftlich 2", W_STREET},
                          {"Straße geschäftlich 3", W_STREET},
                          {"Ort geschäftlich", W_CITY},
                          {"Region geschäftlich", W_STATE},
                          {"Postleitzahl geschäftlich", W_CODE},
                          {"Land/Region geschäftlich", W_COUNTRY},
                          {"Straße privat", H_STREET},
                          {"Straße privat 2", H_STREET},
                          {"Straße privat 3", H_STREET},
                          {"Ort privat", H_CITY},
                          {"Bundesland/Kanton privat", H_STATE},
                          {"Postleitzahl privat", H_CODE},
                          {"Land/Region privat", H_COUNTRY},
                          {"Weitere Straße", O_STREET},
                          {"Weitere Straße 2", O_STREET},
                          {"Weitere Straße 3", O_STREET},
                          {"Weiterer Ort", O_CITY},
                          {"Weiteres/r Bundesland/Kanton", O_STATE},
                          {"Weitere Postleitzahl", O_CODE},
                          {"Weiteres/e Land/Region", O_COUNTRY},
                          {"Telefon Assistent", ASSISTANT_PHONE},
                          {"Fax geschäftlich", WORK_FAX},
                          {"Telefon geschäftlich", WORK_PHONE},
                          {"Telefon geschäftlich 2", WORK_PHONE},
                          {"Rückmeldung", CALLBACK},
                          {"Autotelefon", CAR_PHONE},
                          {"Telefon Firma", COMPANY_PHONE},
                          {"Fax privat", HOME_FAX},
                          {"Telefon privat", HOME_PHONE},
                          {"Telefon privat 2", HOME_PHONE},
                          {"Telefon (privat)", HOME_PHONE},
                          {"Telefon (privat 2)", HOME_PHONE},
                          {"ISDN", ISDN},
                          {"Mobiltelefon", MOBILE},
                          {"Mobiltelefon 2", MOBILE},
                          {"Weiteres Fax", OTHER_FAX},
                          {"Weiteres Telefon", OTHER_PHONE},
                          {"Pager", PAGER},
                          {"Haupttelefon", PRIMARY_PHONE},
                          {"E-Mail-Adresse", EMAIL1},
                          {"E-Mail 2: Adresse", EMAIL2},
                          {"E-Mail 3: Adresse", EMAIL3},
                          {"Geburtstag", BIRTHDAY},
                          {"Jahrestag", ANNIVERSARY},
                          {"Kategorien", CATEGORIES},
                          {"Notizen", NOTES},
                          {"Webseite", WEB_PAGE},
                          {"Partner", SPOUSE},
                          {"Kinder", CHILDREN},
                          {"Name des/r Vorgesetzten", MANAGER},
                          {"Name Assistent", ASSISTANT},
                          {"Empfohlen von", REFERRED_BY},
                          {"E-Mail-Typ", SKIP},
                          {"E-Mail: Angezeigter Name", SKIP},
                          {"E-Mail 2: Typ", SKIP},
                          {"E-Mail 2: Angezeigter Name", SKIP},
                          {"E-Mail 3: Typ", SKIP},
                          {"E-Mail 3: Angezeigter Name", SKIP},
                          {"Priorität", SKIP},
                          {"Vertraulichkeit", SKIP},
                          {"Geschlecht", SKIP},
                          {"Initialen", SKIP},
                          {"Privat", SKIP}};

// French Outlook writes "Titre" twice: the courtesy title first, the job title later (see
// CSVImport::initialize).
const Column kFrench[] = {{"Titre", TITLE},
                          {"Prénom", FIRST},
                          {"Deuxième prénom", MIDDLE},
                          {"Nom", LAST},
                          {"Suffixe", SUFFIX},
                          {"Société", COMPANY},
                          {"Service", DEPARTMENT},
                          {"Rue (bureau)", W_STREET},
                          {"Rue (bureau) 2", W_STREET},
                          {"Rue (bureau) 3", W_STREET},
                          {"Ville (bureau)", W_CITY},
                          {"Dép/Région (bureau)", W_STATE},
                          {"Code postal (bureau)", W_CODE},
                          {"Pays/Région (bureau)", W_COUNTRY},
                          {"Rue (domicile)", H_STREET},
                          {"Rue (domicile) 2", H_STREET},
                          {"Rue (domicile) 3", H_STREET},
                          {"Ville (domicile)", H_CITY},
                          {"Dép/Région (domicile)", H_STATE},
                          {"Code postal (domicile)", H_CODE},
                          {"Pays/Région (domicile)", H_COUNTRY},
                          {"Rue (autre)", O_STREET},
                          {"Rue (autre) 2", O_STREET},
                          {"Rue (autre) 3", O_STREET},
                          {"Ville (autre)", O_CITY},
                          {"Dép/Région (autre)", O_STATE},
                          {"Code postal (autre)", O_CODE},
                          {"Pays/Région (autre)", O_COUNTRY},
                          {"Téléphone de l'assistant(e)", ASSISTANT_PHONE},
                          {"Télécopie (bureau)", WORK_FAX},
                          {"Téléphone (bureau)", WORK_PHONE},
                          {"Téléphone 2 (bureau)", WORK_PHONE},
                          {"Rappel", CALLBACK},
                          {"Téléphone (voiture)", CAR_PHONE},
                          {"Téléphone société", COMPANY_PHONE},
                          {"Télécopie (domicile)", HOME_FAX},
                          {"Téléphone (domicile)", HOME_PHONE},
                          {"Téléphone 2 (domicile)", HOME_PHONE},
                          {"RNIS", ISDN},
                          {"Tél. mobile", MOBILE},
                          {"Télécopie (autre)", OTHER_FAX},
                          {"Téléphone (autre)", OTHER_PHONE},
                          {"Récepteur de radiomessagerie", PAGER},
                          {"Téléphone principal", PRIMARY_PHONE},
                          {"Radio téléphone", RADIO},
                          {"Téléphone TDD/TTY", TTY},
                          {"Télex", TELEX},
                          {"Adresse de messagerie", EMAIL1},
                          {"Adresse de messagerie 2", EMAIL2},
                          {"Adresse de messagerie 3", EMAIL3},
                          {"Anniversaire", BIRTHDAY},
                          {"Anniversaire de mariage ou fête", ANNIVERSARY},
                          {"Catégories", CATEGORIES},
                          {"Notes", NOTES},
                          {"Page Web", WEB_PAGE},
                          {"Conjoint(e)", SPOUSE},
                          {"Enfants", CHILDREN},
                          {"Responsable", MANAGER},
                          {"Nom de l'assistant(e)", ASSISTANT},
                          {"Type de messagerie", SKIP},
                          {"Type de messagerie 2", SKIP},
                          {"Type de messagerie 3", SKIP},
                          {"Nom complet de l'adresse de messagerie", SKIP},
                          {"Nom complet de l'adresse de messagerie 2", SKIP},
                          {"Nom complet de l'adresse de messagerie 3", SKIP},
                          {"Priorité", SKIP},
                          {"Critère de diffusion", SKIP},
                          {"Sexe", SKIP},
                          {"Initiales", SKIP}};

// Spanish Outlook keeps a good part of its column names in English.
const Column kSpanish[] = {{"Nombre", FIRST},
                           {"Segundo nombre", MIDDLE},
                           {"Apellidos", LAST},
                           {"Organización", COMPANY},
                           {"Puesto", JOB_TITLE},
                           {"Calle del trabajo", W_STREET},
                           {"Calle del trabajo 2", W_STREET},
                           {"Calle del trabajo 3", W_STREET},
                           {"Ciudad de trabajo", W_CITY},
                           {"Provincia o estado de trabajo", W_STATE},
                           {"Código postal del trabajo", W_CODE},
                           {"País o región del trabajo", W_COUNTRY},
                           {"País o región del domicilio", H_COUNTRY},
                           {"Otra calle", O_STREET},
                           {"Otra calle 2", O_STREET},
                           {"Otra calle 3", O_STREET},
                           {"Otra ciudad", O_CITY},
                           {"Otra provincia o estado", O_STATE},
                           {"Otro código postal", O_CODE},
                           {"Otro país o región", O_COUNTRY},
                           {"Teléfono del trabajo", WORK_PHONE},
                           {"Devolución de llamada", CALLBACK},
                           {"Número de centralita de la organización", COMPANY_PHONE},
                           {"Particular", HOME_PHONE},
                           {"Otro fax", OTHER_FAX},
                           {"Otro teléfono", OTHER_PHONE},
                           {"Teléfono principal", PRIMARY_PHONE},
                           {"Radioteléfono", RADIO},
                           {"Número de teletipo", TTY},
                           {"Télex", TELEX},
                           {"Dirección de correo electrónico 2", EMAIL2},
                           {"Dirección del correo electrónico 3", EMAIL3},
                           {"Categorías", CATEGORIES},
                           {"Página web", WEB_PAGE},
                           {"Hijos", CHILDREN},
                           {"Nombre del director", MANAGER},
                           {"Tipo de correo electrónico 2", SKIP},
                           {"Tipo de correo electrónico 3", SKIP},
                           {"Nombre de pantalla de correo electrónico", SKIP},
                           {"Nombre de pantalla de correo electrónico 2", SKIP},
                           {"Nombre de pantalla de correo electrónico 3", SKIP},
                           {"Prioridad", SKIP},
                           {"Confidencialidad", SKIP},
                           {"Género", SKIP}};

const Column kItalian[] = {{"Nome", FIRST},
                           {"Secondo nome", MIDDLE},
                           {"Cognome", LAST},
                           {"Titolo", TITLE},
                           {"Titolo straniero", SUFFIX},
                           {"Società", COMPANY},
                           {"Reparto", DEPARTMENT},
                           {"Posizione", JOB_TITLE},
                           {"Via (uff.)", W_STREET},
                           {"Via (uff.) 2", W_STREET},
                           {"Via (uff.) 3", W_STREET},
                           {"Città (uff.)", W_CITY},
                           {"Provincia (uff.)", W_STATE},
                           {"CAP (uff.)", W_CODE},
                           {"Paese (uff.)", W_COUNTRY},
                           {"Via (ab.)", H_STREET},
                           {"Via (ab.) 2", H_STREET},
                           {"Via (ab.) 3", H_STREET},
                           {"Città (ab.)", H_CITY},
                           {"Provincia (ab.)", H_STATE},
                           {"CAP (ab.)", H_CODE},
                           {"Paese (ab.)", H_COUNTRY},
                           {"Altra via", O_STREET},
                           {"Altra via 2", O_STREET},
                           {"Altra via 3", O_STREET},
                           {"Altra città", O_CITY},
                           {"Altra provincia", O_STATE},
                           {"Altro CAP", O_CODE},
                           {"Altro paese", O_COUNTRY},
                           {"Telefono assistente", ASSISTANT_PHONE},
                           {"Fax (uff.)", WORK_FAX},
                           {"Ufficio", WORK_PHONE},
                           {"Ufficio 2", WORK_PHONE},
                           {"Richiamata automatica", CALLBACK},
                           {"Telefono auto", CAR_PHONE},
                           {"Telefono principale società", COMPANY_PHONE},
                           {"Fax (ab.)", HOME_FAX},
                           {"Abitazione", HOME_PHONE},
                           {"Abitazione 2", HOME_PHONE},
                           {"Cellulare", MOBILE},
                           {"Altro fax", OTHER_FAX},
                           {"Altro telefono", OTHER_PHONE},
                           {"Cercapersone", PAGER},
                           {"Telefono principale", PRIMARY_PHONE},
                           {"Radiotelefono", RADIO},
                           {"Telefono TTY/TDD", TTY},
                           {"Indirizzo posta elettronica", EMAIL1},
                           {"Indirizzo posta elettronica 2", EMAIL2},
                           {"Indirizzo posta elettronica 3", EMAIL3},
                           {"Compleanno", BIRTHDAY},
                           {"Anniversario", ANNIVERSARY},
                           {"Categorie", CATEGORIES},
                           {"Pagina Web", WEB_PAGE},
                           {"Nome coniuge", SPOUSE},
                           {"Figli", CHILDREN},
                           {"Nome manager", MANAGER},
                           {"Nome assistente", ASSISTANT},
                           {"Tipo posta elettronica", SKIP},
                           {"Tipo posta elettronica 2", SKIP},
                           {"Tipo posta elettronica 3", SKIP},
                           {"Nome visualizzato posta elettronica", SKIP},
                           {"Nome visualizzato posta elettronica 2", SKIP},
                           {"Nome visualizzato posta elettronica 3", SKIP},
                           {"Priorità", SKIP},
                           {"Riservatezza", SKIP},
                           {"Sesso", SKIP},
                           {"Iniziali", SKIP}};

const Column kDutch[] = {{"Voornaam", FIRST},
                         {"Middelste naam", MIDDLE},
                         {"Achternaam", LAST},
                         {"Titel", TITLE},
                         {"Achtervoegsel", SUFFIX},
                         {"Bedrijf", COMPANY},
                         {"Afdeling", DEPARTMENT},
                         {"Functie", JOB_TITLE},
                         {"Werkadres, straat", W_STREET},
                         {"Werkadres 2, straat", W_STREET},
                         {"Werkadres 3, straat", W_STREET},
                         {"Werkadres, plaats", W_CITY},
                         {"Werkadres, provincie", W_STATE},
                         {"Werkadres, postcode", W_CODE},
                         {"Land/regio (werk)", W_COUNTRY},
                         {"Huisadres, straat", H_STREET},
                         {"Huisadres, straat 2", H_STREET},
                         {"Huisadres, straat 3", H_STREET},
                         {"Huisadres, plaats", H_CITY},
                         {"Huisadres, provincie", H_STATE},
                         {"Huisadres, postcode", H_CODE},
                         {"Land/regio (thuis)", H_COUNTRY},
                         {"Ander adres, straat", O_STREET},
                         {"Ander adres, straat 2", O_STREET},
                         {"Ander adres, straat 3", O_STREET},
                         {"Ander adres, plaats", O_CITY},
                         {"Ander adres, provincie", O_STATE},
                         {"Ander adres, postcode", O_CODE},
                         {"Land/regio (anders)", O_COUNTRY},
                         {"Telefoon assistent", ASSISTANT_PHONE},
                         {"Fax op werk", WORK_FAX},
                         {"Telefoon op werk", WORK_PHONE},
                         {"Telefoon op werk 2", WORK_PHONE},
                         {"Terugbellen", CALLBACK},
                         {"Autotelefoon", CAR_PHONE},
                         {"Hoofdtelefoon bedrijf", COMPANY_PHONE},
                         {"Fax thuis", HOME_FAX},
                         {"Telefoon thuis", HOME_PHONE},
                         {"Telefoon thuis 2", HOME_PHONE},
                         {"Mobiele telefoon", MOBILE},
                         {"Andere fax", OTHER_FAX},
                         {"Andere telefoon", OTHER_PHONE},
                         {"Hoofdtelefoon", PRIMARY_PHONE},
                         {"Radiotelefoon", RADIO},
                         {"Teksttelefoon", TTY},
                         {"E-mailadres", EMAIL1},
                         {"E-mailadres 2", EMAIL2},
                         {"E-mailadres 3", EMAIL3},
                         {"Verjaardag", BIRTHDAY},
                         {"Speciale datum", ANNIVERSARY},
                         {"Categorieën", CATEGORIES},
                         {"Notities", NOTES},
                         {"Webpagina", WEB_PAGE},
                         {"Kinderen", CHILDREN},
                         {"Naam manager", MANAGER},
                         {"Naam assistent", ASSISTANT},
                         {"E-mailtype", SKIP},
                         {"E-mailtype 2", SKIP},
                         {"E-mailtype 3", SKIP},
                         {"Weergavenaam voor e-mail", SKIP},
                         {"E-mail, weergegeven naam 2", SKIP},
                         {"E-mail, weergegeven naam 3", SKIP},
                         {"Prioriteit", SKIP},
                         {"Gevoeligheid", SKIP},
                         {"Geslacht", SKIP},
                         {"Initialen", SKIP}};

// Brazilian Portuguese (also partly in English), then the European spellings that differ.
const Column kPortuguese[] = {{"Primeiro nome", FIRST},
                              {"Segundo nome", MIDDLE},
                              {"Sobrenome", LAST},
                              {"Tratamento", TITLE},
                              {"Sufixo", SUFFIX},
                              {"Empresa", COMPANY},
                              {"Departamento", DEPARTMENT},
                              {"Cargo", JOB_TITLE},
                              {"Rua do endereço comercial 2", W_STREET},
                              {"Rua do endereço comercial 3", W_STREET},
                              {"País/Região da Empresa", W_COUNTRY},
                              {"Endereço residencial", H_STREET},
                              {"Endereço residencial 2", H_STREET},
                              {"Endereço residencial 3", H_STREET},
                              {"Cidade do endereço residencial", H_CITY},
                              {"Estado", H_STATE},
                              {"CEP do endereço residencial", H_CODE},
                              {"País/Região de Residência", H_COUNTRY},
                              {"Outro endereço", O_STREET},
                              {"Outro endereço 2", O_STREET},
                              {"Outro endereço 3", O_STREET},
                              {"Cidade", O_CITY},
                              {"Outro Estado", O_STATE},
                              {"CEP", O_CODE},
                              {"Outro País/Região", O_COUNTRY},
                              {"Telefone do assistente", ASSISTANT_PHONE},
                              {"Fax comercial", WORK_FAX},
                              {"Telefone comercial", WORK_PHONE},
                              {"Telefone comercial 2", WORK_PHONE},
                              {"Retorno de chamada", CALLBACK},
                              {"Telefone do carro", CAR_PHONE},
                              {"Telefone principal da empresa", COMPANY_PHONE},
                              {"Fax residencial", HOME_FAX},
                              {"Telefone residencial", HOME_PHONE},
                              {"Telefone residencial 2", HOME_PHONE},
                              {"Telefone celular", MOBILE},
                              {"Outro fax", OTHER_FAX},
                              {"Outro telefone", OTHER_PHONE},
                              {"Telefone principal", PRIMARY_PHONE},
                              {"Radiofone", RADIO},
                              {"Telefone TTY/TDD", TTY},
                              {"Endereço de email 2", EMAIL2},
                              {"Endereço de email 3", EMAIL3},
                              {"Datas especiais", ANNIVERSARY},
                              {"Categorias", CATEGORIES},
                              {"Anotações", NOTES},
                              {"Página da Web", WEB_PAGE},
                              {"Filhos", CHILDREN},
                              {"Nome do gerenciador", MANAGER},
                              {"Nome do assistente", ASSISTANT},
                              {"Tipo de email", SKIP},
                              {"Tipo de email 2", SKIP},
                              {"Tipo de email 3", SKIP},
                              {"Nome para exibição do email", SKIP},
                              {"Nome para exibição do email 2", SKIP},
                              {"Nome para exibição do email 3", SKIP},
                              {"Prioridade", SKIP},
                              {"Sensibilidade", SKIP},
                              {"Sexo", SKIP},
                              {"Iniciais", SKIP},
                              {"Apelido", LAST},
                              {"Data de nascimento", BIRTHDAY},
                              {"Aniversário", ANNIVERSARY},
                              {"Telefone da residência", HOME_PHONE},
                              {"Telefone da empresa", WORK_PHONE},
                              {"Cônjuge", SPOUSE},
                              {"Endereço do correio electrónico 2", EMAIL2},
                              {"Código postal da empresa", W_CODE}};

const Column kJapanese[] = {{"名", FIRST},
                            {"ミドル ネーム", MIDDLE},
                            {"姓", LAST},
                            {"肩書き", TITLE},
                            {"敬称", SUFFIX},
                            {"会社名", COMPANY},
                            {"部署", DEPARTMENT},
                            {"役職", JOB_TITLE},
                            {"番地 (会社)", W_STREET},
                            {"住所 2 (会社)", W_STREET},
                            {"住所 3 (会社)", W_STREET},
                            {"市町村 (会社)", W_CITY},
                            {"都道府県 (会社)", W_STATE},
                            {"郵便番号 (会社)", W_CODE},
                            {"国 (会社)/地域", W_COUNTRY},
                            {"番地 (自宅)", H_STREET},
                            {"住所 2 (自宅)", H_STREET},
                            {"住所 3 (自宅)", H_STREET},
                            {"市町村 (自宅)", H_CITY},
                            {"都道府県 (自宅)", H_STATE},
                            {"郵便番号 (自宅)", H_CODE},
                            {"国 (自宅)/地域", H_COUNTRY},
                            {"番地 (その他)", O_STREET},
                            {"住所 2 (その他)", O_STREET},
                            {"住所 3 (その他)", O_STREET},
                            {"市町村 (その他)", O_CITY},
                            {"都道府県 (その他)", O_STATE},
                            {"郵便番号 (その他)", O_CODE},
                            {"国 (その他)/地域", O_COUNTRY},
                            {"秘書の電話", ASSISTANT_PHONE},
                            {"会社 FAX", WORK_FAX},
                            {"会社電話", WORK_PHONE},
                            {"会社電話 2", WORK_PHONE},
                            {"コールバック", CALLBACK},
                            {"自動車電話", CAR_PHONE},
                            {"会社代表電話", COMPANY_PHONE},
                            {"自宅 FAX", HOME_FAX},
                            {"自宅電話", HOME_PHONE},
                            {"自宅電話 2", HOME_PHONE},
                            {"携帯電話", MOBILE},
                            {"その他の FAX", OTHER_FAX},
                            {"その他の電話", OTHER_PHONE},
                            {"ポケットベル", PAGER},
                            {"通常の電話", PRIMARY_PHONE},
                            {"無線電話", RADIO},
                            {"TTY/TDD", TTY},
                            {"テレックス", TELEX},
                            {"電子メール アドレス", EMAIL1},
                            {"電子メール 2 アドレス", EMAIL2},
                            {"電子メール 3 アドレス", EMAIL3},
                            {"誕生日", BIRTHDAY},
                            {"記念日", ANNIVERSARY},
                            {"分類", CATEGORIES},
                            {"メモ", NOTES},
                            {"Web ページ", WEB_PAGE},
                            {"配偶者", SPOUSE},
                            {"子供", CHILDREN},
                            {"マネージャー", MANAGER},
                            {"秘書の氏名", ASSISTANT},
                            {"電子メールの種類", SKIP},
                            {"電子メール 2 の種類", SKIP},
                            {"電子メール 3 の種類", SKIP},
                            {"電子メール表示名", SKIP},
                            {"電子メール 2 表示名", SKIP},
                            {"電子メール 3 表示名", SKIP},
                            {"優先度", SKIP},
                            {"秘密度", SKIP},
                            {"性別", SKIP},
                            {"イニシャル", SKIP},
                            {"姓フリガナ", SKIP},
                            {"名前フリガナ", SKIP},
                            {"会社名フリガナ", SKIP}};

struct Language {
    const char* code;
    const Column* columns;
    int count;
};

template <size_t N>
Language lang(const char* code, const Column (&cols)[N]) {
    return Language{code, cols, int(N)};
}

const Language* languages(int* count) {
    static const Language all[] = {
        lang("en", kEnglish), lang("de", kGerman), lang("fr", kFrench),     lang("es", kSpanish),
        lang("it", kItalian), lang("nl", kDutch),  lang("pt", kPortuguese), lang("ja", kJapanese)};
    *count = int(sizeof all / sizeof all[0]);
    return all;
}

}  // namespace

namespace outlookcolumns {

QList<QPair<QString, CSVImport::_ColInfo> > columns() {
    QList<QPair<QString, CSVImport::_ColInfo> > out;
    int n = 0;
    const Language* all = languages(&n);
    for (int l = 0; l < n; ++l) {
        for (int i = 0; i < all[l].count; ++i) {
            out.append(qMakePair(QString::fromUtf8(all[l].columns[i].name),
                                 fieldInfo(all[l].columns[i].field)));
        }
    }
    return out;
}

QString language(const QStringList& header) {
    int n = 0;
    const Language* all = languages(&n);
    QVector<int> hits(n, 0);
    for (const QString& h : header) {
        const QByteArray name = h.toUtf8();
        bool english = false;
        for (int e = 0; e < all[0].count && !english; ++e)
            english = name == all[0].columns[e].name;
        if (english)
            continue;
        for (int l = 1; l < n; ++l) {
            for (int i = 0; i < all[l].count; ++i) {
                // Two of a language's own names make its file: one alone may be a word another
                // layout shares (LinkedIn's "Position" is also German Outlook's job title).
                if (name == all[l].columns[i].name && ++hits[l] >= 2)
                    return QString::fromLatin1(all[l].code);
            }
        }
    }
    return QStringLiteral("en");
}

}  // namespace outlookcolumns
