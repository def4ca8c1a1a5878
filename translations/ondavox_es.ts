<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>CallQuality</name>
    <message>
        <source>Good</source>
        <translation>Buena</translation>
    </message>
    <message>
        <source>Fair</source>
        <translation>Aceptable</translation>
    </message>
    <message>
        <source>Poor</source>
        <translation>Débil</translation>
    </message>
    <message>
        <source>Bad</source>
        <translation>Mala</translation>
    </message>
    <message>
        <source>%1 · loss %2 % · jitter %3 ms · round trip %4 ms</source>
        <translation>%1 · pérdida %2 % · jitter %3 ms · ida y vuelta %4 ms</translation>
    </message>
</context>
<context>
    <name>PageWindow</name>
    <message>
        <source>%1 was opened in your web browser.</source>
        <translation>%1 se abrió en su navegador web.</translation>
    </message>
    <message>
        <source>The page wanted to open %1. It was not opened: this window opens only secure (https) addresses.</source>
        <translation>La página quería abrir %1. No se abrió: esta ventana solo abre direcciones seguras (https).</translation>
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
        <translation>se rechazó la conexión</translation>
    </message>
    <message>
        <source>the server&apos;s name could not be found</source>
        <translation>no se encontró el nombre del servidor</translation>
    </message>
    <message>
        <source>the service did not answer in time</source>
        <translation>el servicio no respondió a tiempo</translation>
    </message>
    <message>
        <source>the connection was closed before the answer arrived</source>
        <translation>la conexión se cerró antes de que llegara la respuesta</translation>
    </message>
    <message>
        <source>the secure connection could not be trusted (%1)</source>
        <translation>no se puede confiar en la conexión segura (%1)</translation>
    </message>
    <message>
        <source>the network is not available</source>
        <translation>la red no está disponible</translation>
    </message>
    <message>
        <source>the service answered with error %1</source>
        <translation>el servicio respondió con el error %1</translation>
    </message>
</context>
<context>
    <name>TAccount</name>
    <message>
        <source>The Ondavox service sent an answer that cannot be read. Please try again later.</source>
        <translation>El servicio de Ondavox envió una respuesta que no se puede leer. Inténtelo de nuevo más tarde.</translation>
    </message>
    <message>
        <source>The Ondavox service cannot be reached: %1. Please check your connection and try again.</source>
        <translation>No se puede contactar con el servicio de Ondavox: %1. Compruebe su conexión e inténtelo de nuevo.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Success</source>
        <translation>Éxito</translation>
    </message>
    <message>
        <source>Text message successfully sent</source>
        <translation>SMS enviado correctamente</translation>
    </message>
</context>
<context>
    <name>TCallDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Diálogo</translation>
    </message>
    <message>
        <source>Hang up</source>
        <translation>Colgar</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>Silenciar</translation>
    </message>
    <message>
        <source>Unmute</source>
        <translation>Activar micrófono</translation>
    </message>
    <message>
        <source>Encrypted call</source>
        <translation>Llamada cifrada</translation>
    </message>
    <message>
        <source>Not encrypted</source>
        <translation>Sin cifrar</translation>
    </message>
</context>
<context>
    <name>TContactInfo</name>
    <message>
        <source>Contact Info</source>
        <translation>Información del contacto</translation>
    </message>
    <message>
        <source>Add contact</source>
        <translation>Añadir contacto</translation>
    </message>
    <message>
        <source>Group:</source>
        <translation>Grupo:</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>Título:</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Nombre:</translation>
    </message>
    <message>
        <source>Company:</source>
        <translation>Empresa:</translation>
    </message>
    <message>
        <source>Phone:</source>
        <translation>Teléfono:</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Guardar</translation>
    </message>
    <message>
        <source>Edit contact</source>
        <translation>Editar contacto</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>You must have at least one phone number.</source>
        <translation>Debe indicar al menos un número de teléfono.</translation>
    </message>
    <message>
        <source>You must enter a name.</source>
        <translation>Debe introducir un nombre.</translation>
    </message>
    <message>
        <source>You must enter a phone number.</source>
        <translation>Debe introducir un número de teléfono.</translation>
    </message>
    <message>
        <source>Group</source>
        <translation>Grupo</translation>
    </message>
    <message>
        <source>The group the contact belongs to</source>
        <translation>El grupo al que pertenece el contacto</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Título</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nombre</translation>
    </message>
    <message>
        <source>Company</source>
        <translation>Empresa</translation>
    </message>
    <message>
        <source>Add phone</source>
        <translation>Añadir teléfono</translation>
    </message>
    <message>
        <source>Add a phone number to the contact</source>
        <translation>Añadir un número de teléfono al contacto</translation>
    </message>
    <message>
        <source>Close without saving</source>
        <translation>Cerrar sin guardar</translation>
    </message>
    <message>
        <source>Save the contact</source>
        <translation>Guardar el contacto</translation>
    </message>
</context>
<context>
    <name>TContactPhoneWidget</name>
    <message>
        <source>Country</source>
        <translation>País</translation>
    </message>
    <message>
        <source>Area Code and Number</source>
        <translation>Prefijo y número</translation>
    </message>
    <message>
        <source>Home</source>
        <translation>Casa</translation>
    </message>
    <message>
        <source>Work</source>
        <translation>Trabajo</translation>
    </message>
    <message>
        <source>Mobile</source>
        <translation>Móvil</translation>
    </message>
    <message>
        <source>Home Fax</source>
        <translation>Fax de casa</translation>
    </message>
    <message>
        <source>Work Fax</source>
        <translation>Fax del trabajo</translation>
    </message>
    <message>
        <source>Page</source>
        <translation>Buscapersonas</translation>
    </message>
    <message>
        <source>Other</source>
        <translation>Otro</translation>
    </message>
    <message>
        <source>Country code</source>
        <translation>Prefijo del país</translation>
    </message>
    <message>
        <source>The country code of the number</source>
        <translation>El prefijo del país del número</translation>
    </message>
    <message>
        <source>Area code and number</source>
        <translation>Prefijo y número</translation>
    </message>
    <message>
        <source>The number without its country code</source>
        <translation>El número sin su prefijo de país</translation>
    </message>
    <message>
        <source>Phone type</source>
        <translation>Tipo de teléfono</translation>
    </message>
    <message>
        <source>Remove phone</source>
        <translation>Eliminar teléfono</translation>
    </message>
    <message>
        <source>Remove this phone number from the contact</source>
        <translation>Eliminar este número de teléfono del contacto</translation>
    </message>
</context>
<context>
    <name>TContactWidget</name>
    <message>
        <source>Edit Contact</source>
        <translation>Editar contacto</translation>
    </message>
    <message>
        <source>Delete Contact</source>
        <translation>Eliminar contacto</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Eliminar</translation>
    </message>
    <message>
        <source>Are you sure you want to remove this contact?</source>
        <translation>¿Seguro que desea eliminar este contacto?</translation>
    </message>
</context>
<context>
    <name>THistoryItem</name>
    <message>
        <source>Call</source>
        <translation>Llamar</translation>
    </message>
</context>
<context>
    <name>TLogin</name>
    <message>
        <source>Log in to your Ondavox account</source>
        <translation>Inicie sesión en su cuenta de Ondavox</translation>
    </message>
    <message>
        <source>E-mail:</source>
        <translation>Correo electrónico:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Contraseña:</translation>
    </message>
    <message>
        <source>Log in</source>
        <translation>Iniciar sesión</translation>
    </message>
    <message>
        <source>Register</source>
        <translation>Registrarse</translation>
    </message>
    <message>
        <source>Check rates</source>
        <translation>Consultar tarifas</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>You have entered wrong credentials. Please try again.</source>
        <translation>Las credenciales introducidas son incorrectas. Inténtelo de nuevo.</translation>
    </message>
    <message>
        <source>E-mail</source>
        <translation>Correo electrónico</translation>
    </message>
    <message>
        <source>The e-mail address of your Ondavox account</source>
        <translation>La dirección de correo de su cuenta de Ondavox</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Contraseña</translation>
    </message>
    <message>
        <source>The password of your Ondavox account</source>
        <translation>La contraseña de su cuenta de Ondavox</translation>
    </message>
    <message>
        <source>Open an Ondavox account</source>
        <translation>Abrir una cuenta de Ondavox</translation>
    </message>
    <message>
        <source>Open the rates page</source>
        <translation>Abrir la página de tarifas</translation>
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
        <translation>Añadir contacto</translation>
    </message>
    <message>
        <source>Send text</source>
        <translation>Enviar SMS</translation>
    </message>
    <message>
        <source>Go to your Ondavox account</source>
        <translation>Ir a su cuenta de Ondavox</translation>
    </message>
    <message>
        <source>Rates</source>
        <translation>Tarifas</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Configuración</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Llamar</translation>
    </message>
    <message>
        <source>Contacts</source>
        <translation>Contactos</translation>
    </message>
    <message>
        <source>Call History</source>
        <translation>Historial de llamadas</translation>
    </message>
    <message>
        <source>New Column</source>
        <translation>Nueva columna</translation>
    </message>
    <message>
        <source>Add $10</source>
        <translation>Añadir 10 $</translation>
    </message>
    <message>
        <source>Add $20</source>
        <translation>Añadir 20 $</translation>
    </message>
    <message>
        <source>Add $50</source>
        <translation>Añadir 50 $</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Salir</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Mostrar</translation>
    </message>
    <message>
        <source>Logout</source>
        <translation>Cerrar sesión</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>iaxclient not found</source>
        <translation>No se encontró iaxclient</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Actualización disponible</translation>
    </message>
    <message>
        <source>There is a new version of Ondavox available for download. Do you want to download the new version?</source>
        <translation>Hay una nueva versión de Ondavox disponible para descargar. ¿Desea descargar la nueva versión?</translation>
    </message>
    <message>
        <source>Add a contact to the phonebook</source>
        <translation>Añadir un contacto a la agenda</translation>
    </message>
    <message>
        <source>Write a text message to a phone number</source>
        <translation>Escribir un SMS a un número de teléfono</translation>
    </message>
    <message>
        <source>Your account</source>
        <translation>Su cuenta</translation>
    </message>
    <message>
        <source>Open the rates page</source>
        <translation>Abrir la página de tarifas</translation>
    </message>
    <message>
        <source>Choose the microphone and the speaker</source>
        <translation>Elegir el micrófono y el altavoz</translation>
    </message>
    <message>
        <source>Credit left; opens the menu for adding credit</source>
        <translation>Saldo restante; abre el menú para añadir saldo</translation>
    </message>
    <message>
        <source>Number</source>
        <translation>Número</translation>
    </message>
    <message>
        <source>The number to call, with its country code</source>
        <translation>El número al que llamar, con su prefijo de país</translation>
    </message>
    <message>
        <source>Call the number</source>
        <translation>Llamar al número</translation>
    </message>
    <message>
        <source>Phonebook and call history</source>
        <translation>Agenda e historial de llamadas</translation>
    </message>
    <message>
        <source>Search phonebook</source>
        <translation>Buscar en la agenda</translation>
    </message>
    <message>
        <source>Shows only the contacts whose name or number holds this text; Escape ends the search</source>
        <translation>Muestra solo los contactos cuyo nombre o número contiene este texto; Escape termina la búsqueda</translation>
    </message>
    <message>
        <source>Search by name or number</source>
        <translation>Buscar por nombre o número</translation>
    </message>
    <message>
        <source>Phonebook</source>
        <translation>Agenda</translation>
    </message>
    <message>
        <source>Your contacts by group; type to search</source>
        <translation>Sus contactos por grupo; escriba para buscar</translation>
    </message>
    <message>
        <source>Call history</source>
        <translation>Historial de llamadas</translation>
    </message>
    <message>
        <source>Your placed calls; Enter calls the number again</source>
        <translation>Sus llamadas realizadas; Intro vuelve a llamar al número</translation>
    </message>
</context>
<context>
    <name>TPhoneWidget</name>
    <message>
        <source>Call</source>
        <translation>Llamar</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>SMS</translation>
    </message>
    <message>
        <source>Call %1</source>
        <translation>Llamar a %1</translation>
    </message>
    <message>
        <source>Send a text to %1</source>
        <translation>Enviar un SMS a %1</translation>
    </message>
</context>
<context>
    <name>TSettings</name>
    <message>
        <source>Settings</source>
        <translation>Configuración</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>Dispositivos</translation>
    </message>
    <message>
        <source>What the microphone hears</source>
        <translation>Lo que oye el micrófono</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Guardar</translation>
    </message>
    <message>
        <source>Speaker</source>
        <translation>Altavoz</translation>
    </message>
    <message>
        <source>The device that plays the call</source>
        <translation>El dispositivo que reproduce la llamada</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Micrófono</translation>
    </message>
    <message>
        <source>The device that records your voice</source>
        <translation>El dispositivo que graba su voz</translation>
    </message>
    <message>
        <source>Microphone level</source>
        <translation>Nivel del micrófono</translation>
    </message>
    <message>
        <source>Close without saving</source>
        <translation>Cerrar sin guardar</translation>
    </message>
    <message>
        <source>Keep the chosen devices</source>
        <translation>Conservar los dispositivos elegidos</translation>
    </message>
</context>
<context>
    <name>TTextDialog</name>
    <message>
        <source>Send Text Message</source>
        <translation>Enviar SMS</translation>
    </message>
    <message>
        <source>Send a text message</source>
        <translation>Enviar un SMS</translation>
    </message>
    <message>
        <source>Country</source>
        <translation>País</translation>
    </message>
    <message>
        <source>Area Code and Number</source>
        <translation>Prefijo y número</translation>
    </message>
    <message>
        <source>Country code</source>
        <translation>Prefijo del país</translation>
    </message>
    <message>
        <source>The country code of the number</source>
        <translation>El prefijo del país del número</translation>
    </message>
    <message>
        <source>Area code and number</source>
        <translation>Prefijo y número</translation>
    </message>
    <message>
        <source>The number without its country code</source>
        <translation>El número sin su prefijo de país</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Mensaje</translation>
    </message>
    <message>
        <source>The text to send</source>
        <translation>El texto que se enviará</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Close without sending</source>
        <translation>Cerrar sin enviar</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Enviar</translation>
    </message>
    <message>
        <source>Send the text message</source>
        <translation>Enviar el SMS</translation>
    </message>
</context>
<context>
    <name>Telephony</name>
    <message>
        <source>Registered</source>
        <translation>Registrado</translation>
    </message>
    <message>
        <source>Registration refused: check your account</source>
        <translation>Registro rechazado: compruebe su cuenta</translation>
    </message>
    <message>
        <source>Cannot reach the phone server</source>
        <translation>No se puede contactar con el servidor telefónico</translation>
    </message>
    <message>
        <source>Registration state unknown</source>
        <translation>Estado del registro desconocido</translation>
    </message>
    <message>
        <source>Registering...</source>
        <translation>Registrando…</translation>
    </message>
    <message>
        <source>Cannot register the phone</source>
        <translation>No se puede registrar el teléfono</translation>
    </message>
    <message>
        <source>This number cannot be dialled: a phone number may contain only digits, spaces, dashes and a leading &quot;+&quot;.</source>
        <translation>No se puede marcar este número: un número de teléfono solo puede contener dígitos, espacios, guiones y un «+» inicial.</translation>
    </message>
</context>
</TS>
