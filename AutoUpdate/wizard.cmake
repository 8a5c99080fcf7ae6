# The wizard (frmMain) and the Veltrup program.
