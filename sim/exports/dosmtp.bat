mailbatch workstation@localhost reports@localhost "Vascular reports" C:\MAIL\
