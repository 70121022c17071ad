<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>MainWindow</name>
    <message>
        <source>Another program is using the Corvane X9. The tool connects to it by itself when that program lets it go.</source>
        <translation>Un autre programme utilise le Corvane X9. L'outil s'y connectera de lui-même dès que ce programme le libérera.</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>Configuration perdue ! Veuillez restaurer les paramètres par défaut !</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>Impossible de joindre le serveur cloud : seuls les firmwares déjà téléchargés seront utilisés.</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>Fichier corrompu, ou sauvegarde d'un autre adaptateur !</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>Version actuelle du firmware</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>Échec de l'effacement de la mémoire flash !</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Erreur</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.rfw)</source>
        <translation>Fichiers de firmware (*.bin *.rfw)</translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>Mise à jour du firmware requise</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>Fichier de firmware invalide !</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>Téléchargement du firmware…</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>Firmware perdu ! Veuillez mettre à jour le firmware !</translation>
    </message>
    <message>
        <source>Firmware write failed! Reconnect the adapter and try again.</source>
        <translation>Échec de l'écriture du firmware ! Rebranchez l'adaptateur et réessayez.</translation>
    </message>
    <message>
        <source>French</source>
        <translation>Français</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>Défaillance matérielle !</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>Nouveau firmware</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation>Ouvrir un fichier de firmware</translation>
    </message>
    <message>
        <source>Corvane Firmware Tool</source>
        <translation>Outil firmware Corvane</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Réinitialiser</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>Réinitialisation réussie !</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>Saving the adapter's configuration...</source>
        <translation>Sauvegarde de la configuration…</translation>
    </message>
    <message>
        <source>The adapter did not answer the version read after the write. Reconnect it to see the version it runs.</source>
        <translation>L'adaptateur n'a pas répondu à la lecture de la version après l'écriture. Rebranchez-le pour voir la version du firmware qu'il exécute.</translation>
    </message>
    <message>
        <source>The adapter's configuration could not be saved. Nothing was changed.</source>
        <translation>La configuration de l'adaptateur n'a pas pu être enregistrée. Rien n'a été modifié.</translation>
    </message>
    <message>
        <source>The firmware is being written. The window closes by itself when it is done.</source>
        <translation>Le firmware est en cours d'écriture. La fenêtre se fermera d'elle-même une fois l'écriture terminée.</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>Erreur de somme de contrôle du firmware téléchargé !</translation>
    </message>
    <message>
        <source>The history cannot be written. Nothing was changed.</source>
        <translation>L'historique ne peut pas être écrit. Rien n'a été modifié.</translation>
    </message>
    <message>
        <source>The information of server error, contact Corvane for help.</source>
        <translation>Les informations du serveur sont invalides. Contactez Corvane pour obtenir de l'aide.</translation>
    </message>
    <message>
        <source>The last write did not finish: run the update again.</source>
        <translation>La dernière écriture ne s'est pas terminée : relancez la mise à jour.</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>Erreur réseau. Vérifiez la connexion et réessayez.</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Mettre à jour le firmware</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>Mise à jour réussie !</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>Notes de version</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>Avertissement</translation>
    </message>
    <message>
        <source>When you first install Corvane Firmware Tool must connect network, and restart Corvane Firmware Tool.</source>
        <translation>Au premier lancement, l'outil firmware Corvane doit accéder au réseau. Connectez l'ordinateur à Internet, puis relancez l'outil.</translation>
    </message>
    <message>
        <source>connect Corvane X9 to PC.</source>
        <translation>Branchez le Corvane X9 au PC en maintenant le bouton enfoncé.
Relâchez-le quand le voyant reste vert.</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>Connexion au serveur cloud…</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>Restauration des données</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>Sauvegarde des données</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>Opération réussie !</translation>
    </message>
    <message>
        <source>%1...</source>
        <translation>%1…</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>En ligne</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>Hors ligne</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Langue</translation>
    </message>
    <message>
        <source>%1 (newest)</source>
        <translation>%1 (dernière)</translation>
    </message>
    <message>
        <source>%1 (installed)</source>
        <translation>%1 (installée)</translation>
    </message>
    <message>
        <source>%1 (newest, installed)</source>
        <translation>%1 (dernière, installée)</translation>
    </message>
    <message>
        <source>The adapter runs firmware %1, which is newer than %2. Write the older firmware?</source>
        <translation>L’adaptateur a le firmware %1, plus récent que %2. Écrire le firmware plus ancien ?</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progression</translation>
    </message>
    <message>
        <source>Serial number: %1</source>
        <translation>Numéro de série : %1</translation>
    </message>
    <message>
        <source>The latest version update!</source>
        <translation>Une nouvelle version de l'outil est disponible !</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>Mise à jour</translation>
    </message>
    <message>
        <source>backup Files (*.bkp)</source>
        <translation>Fichiers de sauvegarde (*.bkp)</translation>
    </message>
    <message>
        <source>Firmware Update Required( &gt;= %1) !</source>
        <translation>Mettez d'abord le firmware à jour (version %1 ou ultérieure) !</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Notification</source>
        <translation>Notification</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Réinitialiser</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Mettre à jour le firmware</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>Boîte de dialogue</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Message</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>Corvane Firmware Tool is already running!</source>
        <translation>L'outil firmware Corvane est déjà ouvert !</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>Mode de démarrage (sans manette) :</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>Sauvegarder</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>Restaurer</translation>
    </message>
    <message>
        <source>UNDEFINE</source>
        <translation>Non défini</translation>
    </message>
    <message>
        <source>Dialog</source>
        <translation>Boîte de dialogue</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
</context>
</TS>
