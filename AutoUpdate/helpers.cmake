# The updater's helpers (mdlRegistry, frmAbout).
