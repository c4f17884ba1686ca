"""CUPS: the backend "tavri" and the queues that print through it.

What root runs, and so all that the backend's root process imports:
`backend`, `owner`, `device_uri`, `credentials`, `programs` and `cupsd`
(what root and the owner's process share). The child that becomes the
prefix's owner runs the worker, tavri-cups-worker, on the engine that
every front end shares. `queue_cli` is the tavri-cups-queue command; it
makes a queue's PPD (`ppd`) from what tavri-print, on that engine, says
the printer offers (`tavri-print --capabilities`)."""
