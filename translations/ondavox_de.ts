<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>CallQuality</name>
    <message>
        <source>Good</source>
        <translation>Gut</translation>
    </message>
    <message>
        <source>Fair</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <source>Poor</source>
        <translation>Schwach</translation>
    </message>
    <message>
        <source>Bad</source>
        <translation>Schlecht</translation>
    </message>
    <message>
        <source>%1 · loss %2 % · jitter %3 ms · round trip %4 ms</source>
        <translation>%1 · Verlust %2 % · Jitter %3 ms · Umlaufzeit %4 ms</translation>
    </message>
</context>
<context>
    <name>PageWindow</name>
    <message>
        <source>%1 was opened in your web browser.</source>
        <translation>%1 wurde in Ihrem Webbrowser geöffnet.</translation>
    </message>
    <message>
        <source>The page wanted to open %1. It was not opened: this window opens only secure (https) addresses.</source>
        <translation>Die Seite wollte %1 öffnen. Die Adresse wurde nicht geöffnet: Dieses Fenster öffnet nur sichere (https-)Adressen.</translation>
    </message>
    <message>
        <source>%1 — %2</source>
        <translation>%1 — %2</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>the connection was refused</source>
        <translation>die Verbindung wurde abgelehnt</translation>
    </message>
    <message>
        <source>the server&apos;s name could not be found</source>
        <translation>der Name des Servers wurde nicht gefunden</translation>
    </message>
    <message>
        <source>the service did not answer in time</source>
        <translation>der Dienst hat nicht rechtzeitig geantwortet</translation>
    </message>
    <message>
        <source>the connection was closed before the answer arrived</source>
        <translation>die Verbindung wurde geschlossen, bevor die Antwort eintraf</translation>
    </message>
    <message>
        <source>the secure connection could not be trusted (%1)</source>
        <translation>der sicheren Verbindung kann nicht vertraut werden (%1)</translation>
    </message>
    <message>
        <source>the network is not available</source>
        <translation>das Netzwerk ist nicht verfügbar</translation>
    </message>
    <message>
        <source>the service answered with error %1</source>
        <translation>der Dienst hat mit Fehler %1 geantwortet</translation>
    </message>
</context>
<context>
    <name>TAccount</name>
    <message>
        <source>The Ondavox service sent an answer that cannot be read. Please try again later.</source>
        <translation>Der Ondavox-Dienst hat eine unlesbare Antwort gesendet. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The Ondavox service cannot be reached: %1. Please check your connection and try again.</source>
        <translation>Der Ondavox-Dienst ist nicht erreichbar: %1. Bitte prüfen Sie Ihre Verbindung und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Success</source>
        <translation>Erfolg</translation>
    </message>
    <message>
        <source>Text message successfully sent</source>
        <translation>SMS erfolgreich gesendet</translation>
    </message>
</context>
<context>
    <name>TCallDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Hang up</source>
        <translation>Auflegen</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>Stummschalten</translation>
    </message>
    <message>
        <source>Unmute</source>
        <translation>Stummschaltung aufheben</translation>
    </message>
    <message>
        <source>Encrypted call</source>
        <translation>Verschlüsselter Anruf</translation>
    </message>
    <message>
        <source>Not encrypted</source>
        <translation>Nicht verschlüsselt</translation>
    </message>
</context>
<context>
    <name>TContactInfo</name>
    <message>
        <source>Contact Info</source>
        <translation>Kontaktdaten</translation>
    </message>
    <message>
        <source>Add contact</source>
        <translation>Kontakt hinzufügen</translation>
    </message>
    <message>
        <source>Group:</source>
        <translation>Gruppe:</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>Titel:</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Company:</source>
        <translation>Firma:</translation>
    </message>
    <message>
        <source>Phone:</source>
        <translation>Telefon:</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Edit contact</source>
        <translation>Kontakt bearbeiten</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>You must have at least one phone number.</source>
        <translation>Sie müssen mindestens eine Telefonnummer angeben.</translation>
    </message>
    <message>
        <source>You must enter a name.</source>
        <translation>Sie müssen einen Namen eingeben.</translation>
    </message>
    <message>
        <source>You must enter a phone number.</source>
        <translation>Sie müssen eine Telefonnummer eingeben.</translation>
    </message>
    <message>
        <source>Group</source>
        <translation>Gruppe</translation>
    </message>
    <message>
        <source>The group the contact belongs to</source>
        <translation>Die Gruppe, zu der der Kontakt gehört</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titel</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Company</source>
        <translation>Firma</translation>
    </message>
    <message>
        <source>Add phone</source>
        <translation>Telefonnummer hinzufügen</translation>
    </message>
    <message>
        <source>Add a phone number to the contact</source>
        <translation>Dem Kontakt eine Telefonnummer hinzufügen</translation>
    </message>
    <message>
        <source>Close without saving</source>
        <translation>Schließen, ohne zu speichern</translation>
    </message>
    <message>
        <source>Save the contact</source>
        <translation>Den Kontakt speichern</translation>
    </message>
</context>
<context>
    <name>TContactPhoneWidget</name>
    <message>
        <source>Country</source>
        <translation>Land</translation>
    </message>
    <message>
        <source>Area Code and Number</source>
        <translation>Vorwahl und Rufnummer</translation>
    </message>
    <message>
        <source>Home</source>
        <translation>Privat</translation>
    </message>
    <message>
        <source>Work</source>
        <translation>Geschäftlich</translation>
    </message>
    <message>
        <source>Mobile</source>
        <translation>Mobil</translation>
    </message>
    <message>
        <source>Home Fax</source>
        <translation>Fax privat</translation>
    </message>
    <message>
        <source>Work Fax</source>
        <translation>Fax geschäftlich</translation>
    </message>
    <message>
        <source>Page</source>
        <translation>Pager</translation>
    </message>
    <message>
        <source>Other</source>
        <translation>Sonstige</translation>
    </message>
    <message>
        <source>Country code</source>
        <translation>Ländervorwahl</translation>
    </message>
    <message>
        <source>The country code of the number</source>
        <translation>Die Ländervorwahl der Nummer</translation>
    </message>
    <message>
        <source>Area code and number</source>
        <translation>Vorwahl und Rufnummer</translation>
    </message>
    <message>
        <source>The number without its country code</source>
        <translation>Die Nummer ohne Ländervorwahl</translation>
    </message>
    <message>
        <source>Phone type</source>
        <translation>Telefonart</translation>
    </message>
    <message>
        <source>Remove phone</source>
        <translation>Telefonnummer entfernen</translation>
    </message>
    <message>
        <source>Remove this phone number from the contact</source>
        <translation>Diese Telefonnummer aus dem Kontakt entfernen</translation>
    </message>
</context>
<context>
    <name>TContactWidget</name>
    <message>
        <source>Edit Contact</source>
        <translation>Kontakt bearbeiten</translation>
    </message>
    <message>
        <source>Delete Contact</source>
        <translation>Kontakt löschen</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Are you sure you want to remove this contact?</source>
        <translation>Möchten Sie diesen Kontakt wirklich entfernen?</translation>
    </message>
</context>
<context>
    <name>THistoryItem</name>
    <message>
        <source>Call</source>
        <translation>Anrufen</translation>
    </message>
</context>
<context>
    <name>TLogin</name>
    <message>
        <source>Log in to your Ondavox account</source>
        <translation>Bei Ihrem Ondavox-Konto anmelden</translation>
    </message>
    <message>
        <source>E-mail:</source>
        <translation>E-Mail:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Log in</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>Register</source>
        <translation>Registrieren</translation>
    </message>
    <message>
        <source>Check rates</source>
        <translation>Tarife ansehen</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>You have entered wrong credentials. Please try again.</source>
        <translation>Die Anmeldedaten sind falsch. Bitte versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>E-mail</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>The e-mail address of your Ondavox account</source>
        <translation>Die E-Mail-Adresse Ihres Ondavox-Kontos</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>The password of your Ondavox account</source>
        <translation>Das Passwort Ihres Ondavox-Kontos</translation>
    </message>
    <message>
        <source>Open an Ondavox account</source>
        <translation>Ein Ondavox-Konto eröffnen</translation>
    </message>
    <message>
        <source>Open the rates page</source>
        <translation>Die Tarifseite öffnen</translation>
    </message>
</context>
<context>
    <name>TMainWindow</name>
    <message>
        <source>Ondavox</source>
        <translation>Ondavox</translation>
    </message>
    <message>
        <source>Add contact</source>
        <translation>Kontakt hinzufügen</translation>
    </message>
    <message>
        <source>Send text</source>
        <translation>SMS senden</translation>
    </message>
    <message>
        <source>Go to your Ondavox account</source>
        <translation>Zu Ihrem Ondavox-Konto</translation>
    </message>
    <message>
        <source>Rates</source>
        <translation>Tarife</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Anrufen</translation>
    </message>
    <message>
        <source>Contacts</source>
        <translation>Kontakte</translation>
    </message>
    <message>
        <source>Call History</source>
        <translation>Anrufliste</translation>
    </message>
    <message>
        <source>New Column</source>
        <translation>Neue Spalte</translation>
    </message>
    <message>
        <source>Add $10</source>
        <translation>$10 aufladen</translation>
    </message>
    <message>
        <source>Add $20</source>
        <translation>$20 aufladen</translation>
    </message>
    <message>
        <source>Add $50</source>
        <translation>$50 aufladen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Logout</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>iaxclient not found</source>
        <translation>iaxclient wurde nicht gefunden</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Aktualisierung verfügbar</translation>
    </message>
    <message>
        <source>There is a new version of Ondavox available for download. Do you want to download the new version?</source>
        <translation>Eine neue Version von Ondavox steht zum Herunterladen bereit. Möchten Sie die neue Version herunterladen?</translation>
    </message>
    <message>
        <source>Add a contact to the phonebook</source>
        <translation>Einen Kontakt zum Telefonbuch hinzufügen</translation>
    </message>
    <message>
        <source>Write a text message to a phone number</source>
        <translation>Eine SMS an eine Telefonnummer schreiben</translation>
    </message>
    <message>
        <source>Your account</source>
        <translation>Ihr Konto</translation>
    </message>
    <message>
        <source>Open the rates page</source>
        <translation>Die Tarifseite öffnen</translation>
    </message>
    <message>
        <source>Choose the microphone and the speaker</source>
        <translation>Mikrofon und Lautsprecher wählen</translation>
    </message>
    <message>
        <source>Credit left; opens the menu for adding credit</source>
        <translation>Verbleibendes Guthaben; öffnet das Menü zum Aufladen</translation>
    </message>
    <message>
        <source>Number</source>
        <translation>Nummer</translation>
    </message>
    <message>
        <source>The number to call, with its country code</source>
        <translation>Die zu wählende Nummer mit Ländervorwahl</translation>
    </message>
    <message>
        <source>Call the number</source>
        <translation>Die Nummer anrufen</translation>
    </message>
    <message>
        <source>Phonebook and call history</source>
        <translation>Telefonbuch und Anrufliste</translation>
    </message>
    <message>
        <source>Search phonebook</source>
        <translation>Telefonbuch durchsuchen</translation>
    </message>
    <message>
        <source>Shows only the contacts whose name or number holds this text; Escape ends the search</source>
        <translation>Zeigt nur die Kontakte, deren Name oder Nummer diesen Text enthält; Esc beendet die Suche</translation>
    </message>
    <message>
        <source>Search by name or number</source>
        <translation>Nach Name oder Nummer suchen</translation>
    </message>
    <message>
        <source>Phonebook</source>
        <translation>Telefonbuch</translation>
    </message>
    <message>
        <source>Your contacts by group; type to search</source>
        <translation>Ihre Kontakte nach Gruppen; tippen Sie, um zu suchen</translation>
    </message>
    <message>
        <source>Call history</source>
        <translation>Anrufliste</translation>
    </message>
    <message>
        <source>Your placed calls; Enter calls the number again</source>
        <translation>Ihre getätigten Anrufe; die Eingabetaste ruft die Nummer erneut an</translation>
    </message>
</context>
<context>
    <name>TPhoneWidget</name>
    <message>
        <source>Call</source>
        <translation>Anrufen</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>SMS</translation>
    </message>
    <message>
        <source>Call %1</source>
        <translation>%1 anrufen</translation>
    </message>
    <message>
        <source>Send a text to %1</source>
        <translation>Eine SMS an %1 senden</translation>
    </message>
</context>
<context>
    <name>TSettings</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Geräte</translation>
    </message>
    <message>
        <source>What the microphone hears</source>
        <translation>Was das Mikrofon hört</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Speaker</source>
        <translation>Lautsprecher</translation>
    </message>
    <message>
        <source>The device that plays the call</source>
        <translation>Das Gerät, das den Anruf wiedergibt</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Mikrofon</translation>
    </message>
    <message>
        <source>The device that records your voice</source>
        <translation>Das Gerät, das Ihre Stimme aufnimmt</translation>
    </message>
    <message>
        <source>Microphone level</source>
        <translation>Mikrofonpegel</translation>
    </message>
    <message>
        <source>Close without saving</source>
        <translation>Schließen, ohne zu speichern</translation>
    </message>
    <message>
        <source>Keep the chosen devices</source>
        <translation>Die gewählten Geräte übernehmen</translation>
    </message>
</context>
<context>
    <name>TTextDialog</name>
    <message>
        <source>Send Text Message</source>
        <translation>SMS senden</translation>
    </message>
    <message>
        <source>Send a text message</source>
        <translation>Eine SMS senden</translation>
    </message>
    <message>
        <source>Country</source>
        <translation>Land</translation>
    </message>
    <message>
        <source>Area Code and Number</source>
        <translation>Vorwahl und Rufnummer</translation>
    </message>
    <message>
        <source>Country code</source>
        <translation>Ländervorwahl</translation>
    </message>
    <message>
        <source>The country code of the number</source>
        <translation>Die Ländervorwahl der Nummer</translation>
    </message>
    <message>
        <source>Area code and number</source>
        <translation>Vorwahl und Rufnummer</translation>
    </message>
    <message>
        <source>The number without its country code</source>
        <translation>Die Nummer ohne Ländervorwahl</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Nachricht</translation>
    </message>
    <message>
        <source>The text to send</source>
        <translation>Der zu sendende Text</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Close without sending</source>
        <translation>Schließen, ohne zu senden</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Send the text message</source>
        <translation>Die SMS senden</translation>
    </message>
</context>
<context>
    <name>Telephony</name>
    <message>
        <source>Registered</source>
        <translation>Registriert</translation>
    </message>
    <message>
        <source>Registration refused: check your account</source>
        <translation>Registrierung abgelehnt: Bitte prüfen Sie Ihr Konto</translation>
    </message>
    <message>
        <source>Cannot reach the phone server</source>
        <translation>Der Telefonserver ist nicht erreichbar</translation>
    </message>
    <message>
        <source>Registration state unknown</source>
        <translation>Registrierungsstatus unbekannt</translation>
    </message>
    <message>
        <source>Registering...</source>
        <translation>Registrierung läuft …</translation>
    </message>
    <message>
        <source>Cannot register the phone</source>
        <translation>Das Telefon kann nicht registriert werden</translation>
    </message>
    <message>
        <source>This number cannot be dialled: a phone number may contain only digits, spaces, dashes and a leading &quot;+&quot;.</source>
        <translation>Diese Nummer kann nicht gewählt werden: Eine Telefonnummer darf nur Ziffern, Leerzeichen, Bindestriche und ein führendes „+“ enthalten.</translation>
    </message>
</context>
</TS>
