"""vexlor: language tools with a native core.

The native core lives in :mod:`vexlor._core_rs`; the modules under
:mod:`vexlor.core` are the small Python layer it calls back.
"""
