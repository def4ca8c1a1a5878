<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>CallQuality</name>
    <message>
        <source>Good</source>
        <translation>Bonne</translation>
    </message>
    <message>
        <source>Fair</source>
        <translation>Correcte</translation>
    </message>
    <message>
        <source>Poor</source>
        <translation>Faible</translation>
    </message>
    <message>
        <source>Bad</source>
        <translation>Mauvaise</translation>
    </message>
    <message>
        <source>%1 · loss %2 % · jitter %3 ms · round trip %4 ms</source>
        <translation>%1 · perte %2 % · gigue %3 ms · aller-retour %4 ms</translation>
    </message>
</context>
<context>
    <name>PageWindow</name>
    <message>
        <source>%1 was opened in your web browser.</source>
        <translation>%1 a été ouvert dans votre navigateur web.</translation>
    </message>
    <message>
        <source>The page wanted to open %1. It was not opened: this window opens only secure (https) addresses.</source>
        <translation>La page voulait ouvrir %1. L’adresse n’a pas été ouverte : cette fenêtre n’ouvre que des adresses sécurisées (https).</translation>
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
        <translation>la connexion a été refusée</translation>
    </message>
    <message>
        <source>the server&apos;s name could not be found</source>
        <translation>le nom du serveur est introuvable</translation>
    </message>
    <message>
        <source>the service did not answer in time</source>
        <translation>le service n’a pas répondu à temps</translation>
    </message>
    <message>
        <source>the connection was closed before the answer arrived</source>
        <translation>la connexion a été fermée avant l’arrivée de la réponse</translation>
    </message>
    <message>
        <source>the secure connection could not be trusted (%1)</source>
        <translation>la connexion sécurisée n’est pas digne de confiance (%1)</translation>
    </message>
    <message>
        <source>the network is not available</source>
        <translation>le réseau n’est pas disponible</translation>
    </message>
    <message>
        <source>the service answered with error %1</source>
        <translation>le service a répondu avec l’erreur %1</translation>
    </message>
</context>
<context>
    <name>TAccount</name>
    <message>
        <source>The Ondavox service sent an answer that cannot be read. Please try again later.</source>
        <translation>Le service Ondavox a envoyé une réponse illisible. Veuillez réessayer plus tard.</translation>
    </message>
    <message>
        <source>The Ondavox service cannot be reached: %1. Please check your connection and try again.</source>
        <translation>Impossible de joindre le service Ondavox : %1. Vérifiez votre connexion et réessayez.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Erreur</translation>
    </message>
    <message>
        <source>Success</source>
        <translation>Succès</translation>
    </message>
    <message>
        <source>Text message successfully sent</source>
        <translation>SMS envoyé avec succès</translation>
    </message>
</context>
<context>
    <name>TCallDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Boîte de dialogue</translation>
    </message>
    <message>
        <source>Hang up</source>
        <translation>Raccrocher</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>Couper le micro</translation>
    </message>
    <message>
        <source>Unmute</source>
        <translation>Rétablir le micro</translation>
    </message>
    <message>
        <source>Encrypted call</source>
        <translation>Appel chiffré</translation>
    </message>
    <message>
        <source>Not encrypted</source>
        <translation>Non chiffré</translation>
    </message>
</context>
<context>
    <name>TContactInfo</name>
    <message>
        <source>Contact Info</source>
        <translation>Informations du contact</translation>
    </message>
    <message>
        <source>Add contact</source>
        <translation>Ajouter un contact</translation>
    </message>
    <message>
        <source>Group:</source>
        <translation>Groupe :</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>Titre :</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Nom :</translation>
    </message>
    <message>
        <source>Company:</source>
        <translation>Société :</translation>
    </message>
    <message>
        <source>Phone:</source>
        <translation>Téléphone :</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Enregistrer</translation>
    </message>
    <message>
        <source>Edit contact</source>
        <translation>Modifier le contact</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Erreur</translation>
    </message>
    <message>
        <source>You must have at least one phone number.</source>
        <translation>Vous devez indiquer au moins un numéro de téléphone.</translation>
    </message>
    <message>
        <source>You must enter a name.</source>
        <translation>Vous devez saisir un nom.</translation>
    </message>
    <message>
        <source>You must enter a phone number.</source>
        <translation>Vous devez saisir un numéro de téléphone.</translation>
    </message>
    <message>
        <source>Group</source>
        <translation>Groupe</translation>
    </message>
    <message>
        <source>The group the contact belongs to</source>
        <translation>Le groupe auquel appartient le contact</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titre</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nom</translation>
    </message>
    <message>
        <source>Company</source>
        <translation>Société</translation>
    </message>
    <message>
        <source>Add phone</source>
        <translation>Ajouter un numéro</translation>
    </message>
    <message>
        <source>Add a phone number to the contact</source>
        <translation>Ajouter un numéro de téléphone au contact</translation>
    </message>
    <message>
        <source>Close without saving</source>
        <translation>Fermer sans enregistrer</translation>
    </message>
    <message>
        <source>Save the contact</source>
        <translation>Enregistrer le contact</translation>
    </message>
</context>
<context>
    <name>TContactPhoneWidget</name>
    <message>
        <source>Country</source>
        <translation>Pays</translation>
    </message>
    <message>
        <source>Area Code and Number</source>
        <translation>Indicatif et numéro</translation>
    </message>
    <message>
        <source>Home</source>
        <translation>Domicile</translation>
    </message>
    <message>
        <source>Work</source>
        <translation>Travail</translation>
    </message>
    <message>
        <source>Mobile</source>
        <translation>Portable</translation>
    </message>
    <message>
        <source>Home Fax</source>
        <translation>Fax domicile</translation>
    </message>
    <message>
        <source>Work Fax</source>
        <translation>Fax travail</translation>
    </message>
    <message>
        <source>Page</source>
        <translation>Bipeur</translation>
    </message>
    <message>
        <source>Other</source>
        <translation>Autre</translation>
    </message>
    <message>
        <source>Country code</source>
        <translation>Indicatif du pays</translation>
    </message>
    <message>
        <source>The country code of the number</source>
        <translation>L’indicatif du pays du numéro</translation>
    </message>
    <message>
        <source>Area code and number</source>
        <translation>Indicatif et numéro</translation>
    </message>
    <message>
        <source>The number without its country code</source>
        <translation>Le numéro sans l’indicatif du pays</translation>
    </message>
    <message>
        <source>Phone type</source>
        <translation>Type de téléphone</translation>
    </message>
    <message>
        <source>Remove phone</source>
        <translation>Supprimer le numéro</translation>
    </message>
    <message>
        <source>Remove this phone number from the contact</source>
        <translation>Supprimer ce numéro de téléphone du contact</translation>
    </message>
</context>
<context>
    <name>TContactWidget</name>
    <message>
        <source>Edit Contact</source>
        <translation>Modifier le contact</translation>
    </message>
    <message>
        <source>Delete Contact</source>
        <translation>Supprimer le contact</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Supprimer</translation>
    </message>
    <message>
        <source>Are you sure you want to remove this contact?</source>
        <translation>Voulez-vous vraiment supprimer ce contact ?</translation>
    </message>
</context>
<context>
    <name>THistoryItem</name>
    <message>
        <source>Call</source>
        <translation>Appeler</translation>
    </message>
</context>
<context>
    <name>TLogin</name>
    <message>
        <source>Log in to your Ondavox account</source>
        <translation>Connexion à votre compte Ondavox</translation>
    </message>
    <message>
        <source>E-mail:</source>
        <translation>E-mail :</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Mot de passe :</translation>
    </message>
    <message>
        <source>Log in</source>
        <translation>Se connecter</translation>
    </message>
    <message>
        <source>Register</source>
        <translation>S’inscrire</translation>
    </message>
    <message>
        <source>Check rates</source>
        <translation>Voir les tarifs</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Erreur</translation>
    </message>
    <message>
        <source>You have entered wrong credentials. Please try again.</source>
        <translation>Les identifiants saisis sont incorrects. Veuillez réessayer.</translation>
    </message>
    <message>
        <source>E-mail</source>
        <translation>E-mail</translation>
    </message>
    <message>
        <source>The e-mail address of your Ondavox account</source>
        <translation>L’adresse e-mail de votre compte Ondavox</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Mot de passe</translation>
    </message>
    <message>
        <source>The password of your Ondavox account</source>
        <translation>Le mot de passe de votre compte Ondavox</translation>
    </message>
    <message>
        <source>Open an Ondavox account</source>
        <translation>Ouvrir un compte Ondavox</translation>
    </message>
    <message>
        <source>Open the rates page</source>
        <translation>Ouvrir la page des tarifs</translation>
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
        <translation>Ajouter un contact</translation>
    </message>
    <message>
        <source>Send text</source>
        <translation>Envoyer un SMS</translation>
    </message>
    <message>
        <source>Go to your Ondavox account</source>
        <translation>Accéder à votre compte Ondavox</translation>
    </message>
    <message>
        <source>Rates</source>
        <translation>Tarifs</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Paramètres</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Appeler</translation>
    </message>
    <message>
        <source>Contacts</source>
        <translation>Contacts</translation>
    </message>
    <message>
        <source>Call History</source>
        <translation>Historique des appels</translation>
    </message>
    <message>
        <source>New Column</source>
        <translation>Nouvelle colonne</translation>
    </message>
    <message>
        <source>Add $10</source>
        <translation>Ajouter 10 $</translation>
    </message>
    <message>
        <source>Add $20</source>
        <translation>Ajouter 20 $</translation>
    </message>
    <message>
        <source>Add $50</source>
        <translation>Ajouter 50 $</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Quitter</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Afficher</translation>
    </message>
    <message>
        <source>Logout</source>
        <translation>Se déconnecter</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Erreur</translation>
    </message>
    <message>
        <source>iaxclient not found</source>
        <translation>iaxclient introuvable</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Mise à jour disponible</translation>
    </message>
    <message>
        <source>There is a new version of Ondavox available for download. Do you want to download the new version?</source>
        <translation>Une nouvelle version d’Ondavox est disponible au téléchargement. Voulez-vous télécharger la nouvelle version ?</translation>
    </message>
    <message>
        <source>Add a contact to the phonebook</source>
        <translation>Ajouter un contact au répertoire</translation>
    </message>
    <message>
        <source>Write a text message to a phone number</source>
        <translation>Écrire un SMS à un numéro de téléphone</translation>
    </message>
    <message>
        <source>Your account</source>
        <translation>Votre compte</translation>
    </message>
    <message>
        <source>Open the rates page</source>
        <translation>Ouvrir la page des tarifs</translation>
    </message>
    <message>
        <source>Choose the microphone and the speaker</source>
        <translation>Choisir le micro et le haut-parleur</translation>
    </message>
    <message>
        <source>Credit left; opens the menu for adding credit</source>
        <translation>Crédit restant ; ouvre le menu pour ajouter du crédit</translation>
    </message>
    <message>
        <source>Number</source>
        <translation>Numéro</translation>
    </message>
    <message>
        <source>The number to call, with its country code</source>
        <translation>Le numéro à appeler, avec l’indicatif du pays</translation>
    </message>
    <message>
        <source>Call the number</source>
        <translation>Appeler le numéro</translation>
    </message>
    <message>
        <source>Phonebook and call history</source>
        <translation>Répertoire et historique des appels</translation>
    </message>
    <message>
        <source>Search phonebook</source>
        <translation>Rechercher dans le répertoire</translation>
    </message>
    <message>
        <source>Shows only the contacts whose name or number holds this text; Escape ends the search</source>
        <translation>N’affiche que les contacts dont le nom ou le numéro contient ce texte ; Échap termine la recherche</translation>
    </message>
    <message>
        <source>Search by name or number</source>
        <translation>Rechercher par nom ou numéro</translation>
    </message>
    <message>
        <source>Phonebook</source>
        <translation>Répertoire</translation>
    </message>
    <message>
        <source>Your contacts by group; type to search</source>
        <translation>Vos contacts par groupe ; tapez pour rechercher</translation>
    </message>
    <message>
        <source>Call history</source>
        <translation>Historique des appels</translation>
    </message>
    <message>
        <source>Your placed calls; Enter calls the number again</source>
        <translation>Vos appels passés ; Entrée rappelle le numéro</translation>
    </message>
</context>
<context>
    <name>TPhoneWidget</name>
    <message>
        <source>Call</source>
        <translation>Appeler</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>SMS</translation>
    </message>
    <message>
        <source>Call %1</source>
        <translation>Appeler %1</translation>
    </message>
    <message>
        <source>Send a text to %1</source>
        <translation>Envoyer un SMS à %1</translation>
    </message>
</context>
<context>
    <name>TSettings</name>
    <message>
        <source>Settings</source>
        <translation>Paramètres</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Périphériques</translation>
    </message>
    <message>
        <source>What the microphone hears</source>
        <translation>Ce qu’entend le micro</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Enregistrer</translation>
    </message>
    <message>
        <source>Speaker</source>
        <translation>Haut-parleur</translation>
    </message>
    <message>
        <source>The device that plays the call</source>
        <translation>Le périphérique qui diffuse l’appel</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Micro</translation>
    </message>
    <message>
        <source>The device that records your voice</source>
        <translation>Le périphérique qui enregistre votre voix</translation>
    </message>
    <message>
        <source>Microphone level</source>
        <translation>Niveau du micro</translation>
    </message>
    <message>
        <source>Close without saving</source>
        <translation>Fermer sans enregistrer</translation>
    </message>
    <message>
        <source>Keep the chosen devices</source>
        <translation>Conserver les périphériques choisis</translation>
    </message>
</context>
<context>
    <name>TTextDialog</name>
    <message>
        <source>Send Text Message</source>
        <translation>Envoyer un SMS</translation>
    </message>
    <message>
        <source>Send a text message</source>
        <translation>Envoyer un SMS</translation>
    </message>
    <message>
        <source>Country</source>
        <translation>Pays</translation>
    </message>
    <message>
        <source>Area Code and Number</source>
        <translation>Indicatif et numéro</translation>
    </message>
    <message>
        <source>Country code</source>
        <translation>Indicatif du pays</translation>
    </message>
    <message>
        <source>The country code of the number</source>
        <translation>L’indicatif du pays du numéro</translation>
    </message>
    <message>
        <source>Area code and number</source>
        <translation>Indicatif et numéro</translation>
    </message>
    <message>
        <source>The number without its country code</source>
        <translation>Le numéro sans l’indicatif du pays</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>The text to send</source>
        <translation>Le texte à envoyer</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Close without sending</source>
        <translation>Fermer sans envoyer</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Envoyer</translation>
    </message>
    <message>
        <source>Send the text message</source>
        <translation>Envoyer le SMS</translation>
    </message>
</context>
<context>
    <name>Telephony</name>
    <message>
        <source>Registered</source>
        <translation>Enregistré</translation>
    </message>
    <message>
        <source>Registration refused: check your account</source>
        <translation>Enregistrement refusé : vérifiez votre compte</translation>
    </message>
    <message>
        <source>Cannot reach the phone server</source>
        <translation>Impossible de joindre le serveur téléphonique</translation>
    </message>
    <message>
        <source>Registration state unknown</source>
        <translation>État de l’enregistrement inconnu</translation>
    </message>
    <message>
        <source>Registering...</source>
        <translation>Enregistrement en cours…</translation>
    </message>
    <message>
        <source>Cannot register the phone</source>
        <translation>Impossible d’enregistrer le téléphone</translation>
    </message>
    <message>
        <source>This number cannot be dialled: a phone number may contain only digits, spaces, dashes and a leading &quot;+&quot;.</source>
        <translation>Ce numéro ne peut pas être composé : un numéro de téléphone ne peut contenir que des chiffres, des espaces, des tirets et un « + » initial.</translation>
    </message>
</context>
</TS>
